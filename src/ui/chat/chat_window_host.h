#pragma once

#include "app/remote_controller.h"
#include "ui/chat/chat_window.h"

#include <memory>

namespace tavoro::ui {

// Keeps the one chat window of the program: open() clears the chat's unread mark and brings the
// window up, made on first use.
//
// Threads: GUI thread only. The controller outlives the host; the window lives as long as the host.
class ChatWindowHost {
public:
    explicit ChatWindowHost(app::RemoteController& controller);
    ~ChatWindowHost();
    ChatWindowHost(const ChatWindowHost&) = delete;
    ChatWindowHost& operator=(const ChatWindowHost&) = delete;

    void open();
    // The window, once it has been opened; null before.
    ChatWindow* window() const { return window_.get(); }

private:
    app::RemoteController& controller_;
    std::unique_ptr<ChatWindow> window_;
};

} // namespace tavoro::ui
