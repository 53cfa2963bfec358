#include "ui/files/file_window_host.h"

namespace tavoro::ui {

FileWindowHost::FileWindowHost(app::RemoteController& controller, std::string home, FileWindowPrompts prompts)
    : controller_(controller), home_(std::move(home)), prompts_(std::move(prompts))
{
    browserSubscription_ = controller_.remoteBrowser.subscribe([this](const auto& browser) {
        if (browser) {
            bringUp();
        }
    });
}

FileWindowHost::~FileWindowHost() = default;

void FileWindowHost::open() { controller_.openFileBrowser(); }

void FileWindowHost::bringUp()
{
    if (!window_) {
        window_ = std::make_unique<FileWindow>(controller_, home_, prompts_);
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
}

} // namespace tavoro::ui
