// The file window's side of the application model: serving the session peer's file requests, opening
// the window on the peer's disk, and taking the peer's listings in.
#include "app/remote_controller.h"
#include "app/status_texts.h"
#include "core/log.h"
#include "core/thread_serial_queue.h"
#include "files/file_receiver.h"

#include <optional>

namespace tavoro::app {

void RemoteController::createFileService()
{
    if (!services_.fileService) {
        return;
    }
    core::SerialQueue* worker = services_.fileWorker;
    if (worker == nullptr) {
        ownFileWorker_ = std::make_unique<core::ThreadSerialQueue>("tavoro.fs");
        worker = ownFileWorker_.get();
    }
    // The server lives inside the controller, and only routing (which holds the controller) asks it.
    fsServer_ = std::make_unique<files::RemoteFsServer>(
        *sig_, *worker, [this](const std::string& from) { return mayUseFiles(from); });
}

void RemoteController::createTransfers()
{
    if (!services_.userFolders) {
        return;
    }
    transferWorker_ = std::make_unique<core::ThreadSerialQueue>("tavoro.filexfer");
    transferChannel_ = std::make_unique<files::SignalingTransferChannel>(*sig_);
    // The manager lives inside the controller, and only routing (which holds the controller) asks it.
    transfers_ = std::make_unique<files::FileTransferManager>(*transferChannel_, *transferWorker_,
        services_.mainQueue, services_.backgroundScheduler, services_.clock, *services_.userFolders,
        [this](const std::string& from) { return mayReceiveFilesFrom(from); });
    transfers_->setDestinationPolicy(
        [this](const std::string& from, const std::string& destDir) { return downloadFolderFor(from, destDir); });
    if (fsServer_) {
        fsServer_->setDownloadHandler([this](files::DownloadRequest request) {
            transfers_->send(request.srcPath, request.destDir, request.to, request.callId);
        });
    }
}

// Files come from the host of this installation's session, or from a controller that may use this
// computer's files.
bool RemoteController::mayReceiveFilesFrom(const std::string& peerId) const
{
    if (auto session = controlSession(); session && session->peerId() == peerId) {
        return true;
    }
    return fsServer_ && mayUseFiles(peerId);
}

// A controller that may change this computer's files puts them where it likes. The host of this
// installation's session only where this installation asked for them: it could otherwise drop files
// into any folder of the user's.
std::filesystem::path RemoteController::downloadFolderFor(const std::string& from, const std::string& destDir) const
{
    auto resolved = files::FileReceiver::resolveDir(destDir, *services_.userFolders);
    if (auto session = controlSession(); !session || session->peerId() != from) {
        return resolved;
    }
    std::lock_guard lock(downloadDirsMutex_);
    return downloadDirs_.contains(resolved) ? resolved : files::FileReceiver::resolveDir("", *services_.userFolders);
}

void RemoteController::allowDownloadsInto(const std::filesystem::path& dir)
{
    std::lock_guard lock(downloadDirsMutex_);
    downloadDirs_.insert(files::FileReceiver::resolveDir(dir.string(), *services_.userFolders));
}

// Only a controller attached to the hosted session, while the user lets callers control this computer,
// may read or change its files: anyone else who knows the ID could otherwise list and delete them.
bool RemoteController::mayUseFiles(const std::string& peerId) const
{
    return permission.get() == 2 && isSessionPeer(peerId);
}

void RemoteController::openFileBrowser()
{
    onMain([](RemoteController& self) {
        std::optional<host::ControllerTarget> peer;
        if (auto control = self.controlSession()) {
            peer = host::ControllerTarget{control->peerId(), control->callId()};
        } else if (auto session = self.hostSession()) {
            peer = session->primary();
        }
        if (!peer) {
            self.status.set(text::kNoSessionForFiles);
            return;
        }
        log::info("Tavoro fs: 打开文件传输 peer=" + peer->peerId + " call_id=" + peer->callId);
        auto browser = files::RemoteBrowser::create(
            *self.sig_, peer->peerId, peer->callId, self.services_.mainQueue, self.services_.mainScheduler);
        self.remoteBrowser.set(browser);
        browser->list("");
    });
}

// A listing is taken only from the peer the window browses; any other is dropped.
void RemoteController::handleFsListResp(
    const std::string& path, const nlohmann::json::array_t& entries, const std::string& from)
{
    auto browser = remoteBrowser.get();
    if (browser && !from.empty() && from == browser->peerId()) {
        browser->feed(path, entries);
        return;
    }
    if (browser) {
        log::info("Tavoro fs: ⚠ 收到非当前对端的 fs_list_resp，已丢弃 from=" + from);
        return;
    }
    log::info("Tavoro fs: ⚠ 收到 fs_list_resp 但文件窗未打开 (" + std::to_string(entries.size()) + " 项)");
}

} // namespace tavoro::app
