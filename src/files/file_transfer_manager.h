#pragma once

#include "core/clock.h"
#include "core/main_queue.h"
#include "core/observable.h"
#include "core/scheduler.h"
#include "core/serial_queue.h"
#include "files/incoming_transfers.h"
#include "files/job_board.h"
#include "files/outgoing_transfers.h"
#include "files/transfer_channel.h"
#include "files/transfer_job.h"
#include "platform/user_folders.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace tavoro::files {

// Moves single files to and from session peers as "file_xfer_start", "file_xfer_chunk" (64 KiB of
// Base64 each) and "file_xfer_done" messages over the transfer channel, and lists every transfer as
// a TransferJob, newest first.
//
// Sending (OutgoingTransfers) reads and sends on the worker queue ("tavoro.filexfer"), one file after
// another, paced by what the connection has written. Receiving (IncomingTransfers) writes on the
// thread that calls handleMessage (the routing thread), into a hidden temporary file renamed into
// place only when the whole file arrived intact; idle checks run on the timers' thread.
//
// Threads: every operation is safe from any thread; jobs() and every job's observable fields change
// on the main thread only. The channel, queues, scheduler and folders outlive the manager; work still
// queued when it is destroyed finds it gone and does nothing.
class FileTransferManager {
public:
    using Authorizer = IncomingTransfers::Authorizer;
    using DestinationPolicy = IncomingTransfers::DestinationPolicy;
    // Transfer ids for outgoing files: random, 1 to 2^63 − 1.
    using IdSource = std::function<std::int64_t()>;

    // isSessionPeer decides whose files are accepted. The destination of a received file follows
    // FileReceiver::resolveDir until setDestinationPolicy() says otherwise.
    FileTransferManager(TransferChannel& channel, core::SerialQueue& worker, core::MainQueue& main,
        core::Scheduler& timers, std::shared_ptr<const core::Clock> clock, const platform::UserFolders& folders,
        Authorizer isSessionPeer, IdSource newId = {});
    ~FileTransferManager();
    FileTransferManager(const FileTransferManager&) = delete;
    FileTransferManager& operator=(const FileTransferManager&) = delete;

    core::Observable<TransferJobList>& jobs() { return board_->jobs; }

    // Sends the file at `path` to peer `to` for its directory `destDir` (may be empty). Returns at once
    // with the transfer id; the job shows how it goes.
    std::int64_t send(const std::filesystem::path& path, const std::string& destDir, const std::string& to,
        const std::string& callId);

    // Takes "file_xfer_start", "file_xfer_chunk" and "file_xfer_done" (true); false for any other type.
    bool handleMessage(const std::string& type, const nlohmann::json& msg);

    void setDestinationPolicy(DestinationPolicy destination);

    // Ends the incoming transfers of one peer, or of everyone, as "中断" (for a session or connection
    // that ended); what arrived is kept as ".part".
    void abandonFrom(const std::string& peer);
    void abandonAll();

private:
    std::shared_ptr<JobBoard> board_;
    IdSource newId_;
    std::shared_ptr<OutgoingTransfers> outgoing_;
    std::shared_ptr<IncomingTransfers> incoming_;
};

} // namespace tavoro::files
