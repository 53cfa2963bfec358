#pragma once

#include "app/remote_controller.h"
#include "core/observable.h"
#include "files/local_browser.h"
#include "files/remote_browser.h"
#include "ui/files/file_window_prompts.h"
#include "ui/session_peer.h"

#include <QWidget>

#include <memory>
#include <optional>
#include <string>
#include <vector>

class QLabel;
class QPushButton;
class QStackedWidget;

namespace tavoro::ui {

class EntryList;

// The file-transfer window: this computer's disk ("本机") beside the session peer's ("远端（被控电脑）"),
// the actions between them, and the transfers. The local pane is its own LocalBrowser, starting in the
// user's home; the remote pane follows the controller's remoteBrowser as it is replaced. While the
// browser's peer is not the running session's, the remote pane says so and every action on the peer
// is disabled. Deleting asks first.
//
// Threads: GUI thread only (the controller's main thread). The controller must outlive the window and
// must have been given the user's folders (its transfers are shown).
class FileWindow final : public QWidget {
public:
    FileWindow(app::RemoteController& controller, const std::string& home, FileWindowPrompts prompts = dialogPrompts(),
        QWidget* parent = nullptr);
    ~FileWindow() override;

private:
    QWidget* makeLocalPane();
    QWidget* makeRemotePane();
    QWidget* makeMoveButtons();
    QPushButton* remoteButton(const char* text, const char* objectName);
    void followRemoteBrowser(std::shared_ptr<files::RemoteBrowser> browser);
    void showLocal();
    void showRemote();
    // The browser that shows the running session's peer; null when there is none.
    std::shared_ptr<files::RemoteBrowser> liveRemote() const;
    void enterRemote(const files::FsEntry& entry);
    void upload();
    void download();
    void deleteSelected();
    void makeFolder();

    app::RemoteController& controller_;
    FileWindowPrompts prompts_;
    files::LocalBrowser local_;
    std::shared_ptr<files::RemoteBrowser> remote_;
    QLabel* localPath_ = nullptr;
    EntryList* localList_ = nullptr;
    QLabel* remotePath_ = nullptr;
    EntryList* remoteList_ = nullptr;
    QLabel* remoteNotice_ = nullptr;
    QStackedWidget* remoteStack_ = nullptr;
    std::vector<QPushButton*> remoteActions_;
    // Declared after the models they watch, so that they end first.
    core::Observable<std::string>::Subscription localPathSubscription_;
    core::Observable<std::vector<files::FsEntry>>::Subscription localEntriesSubscription_;
    core::Observable<std::string>::Subscription remotePathSubscription_;
    core::Observable<std::vector<files::FsEntry>>::Subscription remoteEntriesSubscription_;
    core::Observable<bool>::Subscription remoteLoadingSubscription_;
    core::Observable<std::shared_ptr<files::RemoteBrowser>>::Subscription browserSubscription_;
    std::optional<SessionPeerWatch> sessionWatch_;
};

} // namespace tavoro::ui
