#pragma once

#include "app/remote_controller.h"
#include "ui/main/follow.h"

#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;

namespace tavoro::ui {

// The top of the main window: the product's mark and title, the connection badge, the chat button
// (marked while a message is unread) and the About and minimise buttons. GUI thread only; the
// controller outlives the banner.
class Banner final : public QWidget {
public:
    struct Actions {
        std::function<void()> openChat;
        std::function<void()> showAbout;
    };

    Banner(app::RemoteController& controller, Actions actions, QWidget* parent = nullptr);

    void setOpenChat(std::function<void()> openChat) { actions_.openChat = std::move(openChat); }

private:
    void showOnline(bool online);
    void showUnread(bool unread);

    Actions actions_;
    QLabel* badge_ = nullptr;
    QPushButton* chat_ = nullptr;
    Followers followers_;
};

} // namespace tavoro::ui
