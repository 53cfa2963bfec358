#pragma once

#include "core/main_queue.h"
#include "core/observable.h"
#include "core/scheduler.h"
#include "files/fs_entry.h"
#include "protocol/message_sender.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace tavoro::files {

// The model of the pane that shows the peer's disk: asks the peer's file service for listings
// ("fs_list"), takes its replies in, and sends the peer's file operations ("fs_get", "fs_mkdir",
// "fs_delete"). Replies are not matched to requests: the last one to arrive is shown, whatever its path.
//
// Threads: list, up, download, mkdir, remove and relist are called on the main thread; feed on any
// thread (the message routing's), and it moves its changes to the main thread. The observable fields
// change on the main thread only. `sender`, `mainQueue` and `mainScheduler` (whose timers fire on the
// main queue) outlive the browser; work it posts holds it weakly.
class RemoteBrowser : public std::enable_shared_from_this<RemoteBrowser> {
public:
    static constexpr std::chrono::milliseconds kRelistDelay{300};

    static std::shared_ptr<RemoteBrowser> create(protocol::MessageSender& sender, std::string peerId,
        std::string callId, core::MainQueue& mainQueue, core::Scheduler& mainScheduler);
    RemoteBrowser(const RemoteBrowser&) = delete;
    RemoteBrowser& operator=(const RemoteBrowser&) = delete;

    core::Observable<std::string> path;            // "" is the peer's root
    core::Observable<std::vector<FsEntry>> entries; // the last listing received, in the peer's order
    core::Observable<bool> loading{false};          // a listing was asked for and not yet answered

    const std::string& peerId() const { return peerId_; }
    const std::string& callId() const { return callId_; }

    void list(const std::string& directory);
    // An "fs_list_resp": its "path" and the objects of its "entries".
    void feed(const std::string& directory, const nlohmann::json::array_t& objects);
    // The parent directory; nothing at the root.
    void up();
    // Asks the peer to send a file of the current directory into a local directory; nothing for a
    // directory.
    void download(const FsEntry& entry, const std::string& toLocalDir);
    // Creates a directory in the current one, then lists again.
    void mkdir(const std::string& name);
    // Deletes items of the current directory (directories with their contents), then lists again.
    void remove(const std::vector<std::string>& names);
    // Lists the then-current directory after kRelistDelay.
    void relist();

private:
    RemoteBrowser(protocol::MessageSender& sender, std::string peerId, std::string callId,
        core::MainQueue& mainQueue, core::Scheduler& mainScheduler);
    void send(const std::string& type, nlohmann::json fields);

    protocol::MessageSender& sender_;
    const std::string peerId_;
    const std::string callId_;
    core::MainQueue& mainQueue_;
    core::Scheduler& mainScheduler_;
};

// An entry object of an "fs_list_resp", read leniently: a missing or mistyped field reads as empty,
// false or 0; sizes and times given as floating-point numbers are truncated toward zero.
FsEntry fsEntryFromJson(const nlohmann::json& object);

} // namespace tavoro::files
