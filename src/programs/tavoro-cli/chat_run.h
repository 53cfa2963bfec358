#pragma once

#include "app/remote_controller.h"
#include "chat/incoming_chat_lines.h"

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace tavoro::cli {

// The chat part of "tavoro-cli chat", beside the ConnectRun that holds the session: once the host has
// accepted, sends each text to it with the session's call ID, and prints every message received as
// "ID: text" without control characters. Texts that cannot be sent are reported on err.
// Main thread only; start() before the controller starts.
class ChatRun {
public:
    ChatRun(app::RemoteController& controller, std::vector<std::string> texts, std::ostream& out, std::ostream& err);

    void start();

private:
    void sendAll(const control::ControlSession& session);

    app::RemoteController& controller_;
    std::vector<std::string> texts_;
    std::ostream& out_;
    std::ostream& err_;
    bool sent_ = false;
    chat::IncomingChatLines lines_;
    core::Observable<std::shared_ptr<control::ControlSession>>::Subscription controlSubscription_;
    core::Observable<chat::Conversations>::Subscription chatSubscription_;
};

} // namespace tavoro::cli
