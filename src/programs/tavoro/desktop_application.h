#pragma once

#include "app/remote_controller.h"
#include "programs/tavoro/desktop_services.h"
#include "ui/chat/chat_window_host.h"
#include "ui/files/file_window_host.h"
#include "ui/main_window.h"
#include "ui/session/session_window_manager.h"

#include <memory>
#include <optional>
#include <string>

namespace tavoro::app {

// Where the desktop application finds its server and keeps its settings.
struct DesktopSetup {
    std::optional<std::string> configDir;
    Deployment deployment;
    std::string pin; // the server certificate's SHA-256, or empty for the system's trust
};

// The desktop application put together: its services, the application model and its windows (the
// main window, one window for the running outgoing session, the file and chat windows). The
// program makes one after the QApplication; tests and benchmarks make one to drive the real thing.
// It sets the interface font; when the application is about to quit, a hosted session ends (its
// controllers are told) and the signaling connection closes gracefully.
//
// Threads: GUI thread only.
class DesktopApplication {
public:
    explicit DesktopApplication(const DesktopSetup& setup);
    DesktopApplication(const DesktopApplication&) = delete;
    DesktopApplication& operator=(const DesktopApplication&) = delete;

    // Shows the main window; its first appearance starts the application model.
    void show();

    // The file window on the running session's peer (only the status line speaks without a session),
    // and the chat window.
    void openFiles() { fileWindows_->open(); }
    void openChat() { chatWindow_->open(); }

    RemoteController& controller() { return *controller_; }
    ui::MainWindow& mainWindow() { return *mainWindow_; }

private:
    // In this order: the windows go before the model they show, the model before its services.
    DesktopServices services_;
    std::shared_ptr<RemoteController> controller_;
    std::unique_ptr<ui::FileWindowHost> fileWindows_;
    std::unique_ptr<ui::ChatWindowHost> chatWindow_;
    std::unique_ptr<ui::SessionWindowManager> sessionWindows_;
    core::Observable<std::shared_ptr<control::ControlSession>>::Subscription sessionWindowFollowsControl_;
    std::unique_ptr<ui::MainWindow> mainWindow_;
};

} // namespace tavoro::app
