#pragma once

#include "core/main_queue.h"
#include "core/observable.h"
#include "protocol/message_sender.h"

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tavoro::chat {

// One stored chat message.
struct ChatMsg {
    std::string id;
    bool mine = false;
    std::string text;

    bool operator==(const ChatMsg&) const = default;
};

using Conversations = std::map<std::string, std::vector<ChatMsg>>;

// The largest "push_msg" this installation sends, serialised. The server drops the connection of a
// client that sends a message over 1 MiB; the rest of that limit is left for "from" and the numbering.
inline constexpr std::size_t kMaxPushMsgBytes = 1'000'000;
inline constexpr const char* kTextTooLong = "消息过长（超过 1 MB），未发送";

// The conversations of this installation with its peers, for as long as it runs: one per peer device
// ID, the order in which peers first appeared, and one unread mark for all of them. Messages go out
// as "push_msg" through the signaling connection; nothing is kept on disk.
//
// Threads: send, receive and clearUnread may be called from any thread. Every change of the published
// fields happens on the main thread (at once when called there, else posted to it in call order), so
// the lists are never changed concurrently; get() on them is safe from any thread. Made with create()
// so that posted work holds the store weakly. The sender must outlive the store.
class ChatStore : public std::enable_shared_from_this<ChatStore> {
public:
    // makeId gives the fresh, unique ID of each stored message; it is called on the main thread.
    static std::shared_ptr<ChatStore> create(protocol::MessageSender& sig, core::MainQueue& mainQueue,
        std::function<std::string()> makeId);

    // Published state.
    core::Observable<std::vector<std::string>> peers; // in order of each peer's first message; never shrinks
    core::Observable<Conversations> conversations;
    core::Observable<bool> unread;

    // Sends text to a peer and stores it as this installation's. An empty recipient or text does
    // nothing (nullopt). A text whose message would exceed kMaxPushMsgBytes is neither sent nor stored;
    // the answer is then kTextTooLong. Delivery is not awaited: a message lost on the way stays stored.
    std::optional<std::string> send(const std::string& to, const std::string& callId, const std::string& text);
    // Stores a peer's message and sets unread. An empty sender or text does nothing.
    void receive(const std::string& from, const std::string& text);
    // The user has opened the chat.
    void clearUnread();

private:
    ChatStore(protocol::MessageSender& sig, core::MainQueue& mainQueue, std::function<std::string()> makeId);
    void store(const std::string& peer, bool mine, const std::string& text); // any thread
    void storeOnMain(const std::string& peer, bool mine, const std::string& text);

    protocol::MessageSender& sig_;
    core::MainQueue& mainQueue_;
    std::function<std::string()> makeId_; // main thread only
};

} // namespace tavoro::chat
