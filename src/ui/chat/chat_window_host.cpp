#include "ui/chat/chat_window_host.h"

namespace tavoro::ui {

ChatWindowHost::ChatWindowHost(app::RemoteController& controller) : controller_(controller) {}

ChatWindowHost::~ChatWindowHost() = default;

void ChatWindowHost::open()
{
    controller_.openChat();
    if (!window_) {
        window_ = std::make_unique<ChatWindow>(controller_);
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
}

} // namespace tavoro::ui
