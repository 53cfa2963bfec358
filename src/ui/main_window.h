#pragma once

#include "app/remote_controller.h"
#include "platform/permissions.h"

#include <QWidget>

#include <functional>

namespace tavoro::ui {

class AboutBox;
class Banner;
class PermissionBanner;

// The main window: the banner, the host and permission banners, the card of this installation's ID,
// password and permission, the card that places calls, and the status band. Every value shown follows
// an observable field of the controller; every action calls one of its operations. The first time the
// window is shown it starts the controller. The permission banner re-reads the permissions whenever
// the window is shown or activated.
//
// Threads: GUI thread only (which is the controller's main thread). The controller and the permissions
// must outlive the window.
class MainWindow final : public QWidget {
public:
    // permissions: whether this computer can be captured and take input; null: no permission banner.
    explicit MainWindow(
        app::RemoteController& controller, platform::Permissions* permissions = nullptr, QWidget* parent = nullptr);

    // What the chat button does (nothing until set). The chat window clears the unread mark itself
    // when it opens.
    void setOpenChat(std::function<void()> openChat);

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void showAbout();

    app::RemoteController& controller_;
    bool started_ = false;
    Banner* banner_ = nullptr;
    PermissionBanner* permissionBanner_ = nullptr; // null without permissions
    AboutBox* about_ = nullptr;                    // made the first time it is asked for
};

} // namespace tavoro::ui
