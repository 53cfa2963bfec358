#include "chat/chat_store.h"

#include "core/json_fields.h"

#include <cstdint>
#include <limits>

namespace tavoro::chat {
namespace {

nlohmann::json pushMsg(const std::string& to, const std::string& callId, const std::string& text)
{
    return {{"to", to}, {"call_id", callId}, {"text", text}, {"display", "banner"}, {"require_ack", false}};
}

// The size of the message as the connection will send it, with the widest sequence number.
std::size_t serialisedSize(nlohmann::json message)
{
    message["type"] = "push_msg";
    message["seq"] = std::numeric_limits<std::int64_t>::max();
    auto text = json::dump(message);
    return text ? text->size() : 0; // not valid UTF-8: the connection drops it unsent anyway
}

} // namespace

std::shared_ptr<ChatStore> ChatStore::create(protocol::MessageSender& sig, core::MainQueue& mainQueue,
    std::function<std::string()> makeId)
{
    return std::shared_ptr<ChatStore>(new ChatStore(sig, mainQueue, std::move(makeId)));
}

ChatStore::ChatStore(protocol::MessageSender& sig, core::MainQueue& mainQueue, std::function<std::string()> makeId)
    : sig_(sig), mainQueue_(mainQueue), makeId_(std::move(makeId))
{
}

std::optional<std::string> ChatStore::send(const std::string& to, const std::string& callId, const std::string& text)
{
    if (to.empty() || text.empty()) {
        return std::nullopt;
    }
    auto message = pushMsg(to, callId, text);
    if (serialisedSize(message) > kMaxPushMsgBytes) {
        return std::string(kTextTooLong);
    }
    sig_.send("push_msg", std::move(message));
    store(to, true, text);
    return std::nullopt;
}

void ChatStore::receive(const std::string& from, const std::string& text)
{
    if (from.empty() || text.empty()) {
        return;
    }
    store(from, false, text);
}

void ChatStore::clearUnread()
{
    std::weak_ptr<ChatStore> weak = weak_from_this();
    mainQueue_.runOrPost([weak] {
        if (auto self = weak.lock()) {
            self->unread.set(false);
        }
    });
}

void ChatStore::store(const std::string& peer, bool mine, const std::string& text)
{
    std::weak_ptr<ChatStore> weak = weak_from_this();
    mainQueue_.runOrPost([weak, peer, mine, text] {
        if (auto self = weak.lock()) {
            self->storeOnMain(peer, mine, text);
        }
    });
}

void ChatStore::storeOnMain(const std::string& peer, bool mine, const std::string& text)
{
    auto all = conversations.get();
    auto [entry, isNew] = all.try_emplace(peer);
    entry->second.push_back(ChatMsg{makeId_(), mine, text});
    if (isNew) {
        auto order = peers.get();
        order.push_back(peer);
        peers.set(std::move(order));
    }
    conversations.set(std::move(all));
    if (!mine) {
        unread.set(true);
    }
}

} // namespace tavoro::chat
