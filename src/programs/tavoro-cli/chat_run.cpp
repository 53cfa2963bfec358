#include "programs/tavoro-cli/chat_run.h"

#include "chat/chat_text.h"

#include <ostream>

namespace tavoro::cli {

ChatRun::ChatRun(app::RemoteController& controller, std::vector<std::string> texts, std::ostream& out,
    std::ostream& err)
    : controller_(controller), texts_(std::move(texts)), out_(out), err_(err)
{
}

void ChatRun::start()
{
    chatSubscription_ = controller_.chat().conversations.subscribe([this](const chat::Conversations& all) {
        for (const auto& line : lines_.take(all)) {
            out_ << line << std::endl;
        }
    });
    controlSubscription_ = controller_.control.subscribe([this](const std::shared_ptr<control::ControlSession>& s) {
        if (s && !sent_) {
            sent_ = true;
            sendAll(*s);
        }
    });
}

void ChatRun::sendAll(const control::ControlSession& session)
{
    for (const auto& draft : texts_) {
        const auto text = chat::trimDraft(draft);
        if (auto refusal = controller_.chat().send(session.peerId(), session.callId(), text)) {
            err_ << "tavoro-cli: " << *refusal << std::endl;
        }
    }
}

} // namespace tavoro::cli
