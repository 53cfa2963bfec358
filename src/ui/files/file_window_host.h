#pragma once

#include "app/remote_controller.h"
#include "core/observable.h"
#include "ui/files/file_window.h"

#include <memory>
#include <string>

namespace tavoro::ui {

// Keeps the one file-transfer window of the program. open() asks the controller to open the file
// browser on the running session's peer; each browser the controller publishes brings the window up
// (made on first use), so the window appears only when there is a peer to browse. Without a session
// the controller's status line says so and no window appears.
//
// Threads: GUI thread only. The controller outlives the host; the window lives as long as the host.
class FileWindowHost {
public:
    // `home`: where the local pane starts (the user's home directory).
    FileWindowHost(app::RemoteController& controller, std::string home, FileWindowPrompts prompts = dialogPrompts());
    ~FileWindowHost();
    FileWindowHost(const FileWindowHost&) = delete;
    FileWindowHost& operator=(const FileWindowHost&) = delete;

    void open();
    // The window, once it has been shown; null before.
    FileWindow* window() const { return window_.get(); }

private:
    void bringUp();

    app::RemoteController& controller_;
    const std::string home_;
    FileWindowPrompts prompts_;
    std::unique_ptr<FileWindow> window_;
    core::Observable<std::shared_ptr<files::RemoteBrowser>>::Subscription browserSubscription_;
};

} // namespace tavoro::ui
