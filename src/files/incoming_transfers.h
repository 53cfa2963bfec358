#pragma once

#include "core/clock.h"
#include "core/scheduler.h"
#include "files/file_receiver.h"
#include "files/job_board.h"
#include "files/transfer_channel.h"
#include "files/transfer_messages.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace tavoro::files {

// The files peers are sending us: one FileReceiver per transfer in progress, with its job.
//
// A start is taken only from a sender the authorizer accepts (a refused sender is logged once), with
// an unused id, while the sender has fewer than kMaxPerPeer and everyone fewer than kMaxTotal
// transfers running, when the destination has room for the announced size. Chunks and the done
// message count only from the sender of the start; a chunk outside the announced size is dropped.
// kIdleLimit without a chunk, a write error, or abandonFrom()/abandonAll() end a transfer "中断".
//
// Threads: every public operation from any thread; the routing thread calls the three message
// handlers, the timers' thread the idle checks. mutex_ guards receivers_, refused_ and destination_,
// and is held while a file is written; the authorizer and destination policy run under it and must
// not call back in. The scheduler and clock outlive this
// object; timers hold it weakly.
class IncomingTransfers : public std::enable_shared_from_this<IncomingTransfers> {
public:
    using Authorizer = std::function<bool(const std::string& from)>;
    // The directory a peer's file goes to, given the sender and the destination it named; an empty
    // path refuses the transfer.
    using DestinationPolicy = std::function<std::filesystem::path(const std::string& from, const std::string& destDir)>;

    static constexpr std::size_t kMaxPerPeer = 8;
    static constexpr std::size_t kMaxTotal = 32;
    static constexpr core::Millis kIdleLimit{30'000};

    // Confirmations ("file_xfer_ack") go out every this many bytes, and once more after "file_xfer_done".
    static constexpr std::int64_t kAckEvery = 4 * 65536;

    IncomingTransfers(TransferChannel& channel, core::Scheduler& timers, std::shared_ptr<const core::Clock> clock,
        std::shared_ptr<JobBoard> board, Authorizer authorizer, DestinationPolicy destination);
    ~IncomingTransfers();

    void setDestinationPolicy(DestinationPolicy destination);

    void onStart(const nlohmann::json& msg);
    void onChunk(const nlohmann::json& msg);
    void onDone(const nlohmann::json& msg);

    void abandonFrom(const std::string& peer);
    void abandonAll();

private:
    struct Entry {
        std::string from;
        std::string callId;
        std::int64_t confirmed = 0; // bytes last confirmed to the sender
        std::unique_ptr<FileReceiver> receiver;
        std::shared_ptr<TransferJob> job;
        core::SteadyTime lastChunk;
        std::shared_ptr<core::TimerHandle> timer;
    };
    using Entries = std::map<std::int64_t, Entry>;

    // Job changes gathered while mutex_ is held and made once it is released (the updates object is
    // declared before the lock), so that a job's listener may call back in.
    class Updates {
    public:
        explicit Updates(std::shared_ptr<JobBoard> board) : board_(std::move(board)) {}
        ~Updates();
        Updates(const Updates&) = delete;
        Updates& operator=(const Updates&) = delete;
        void sent(std::shared_ptr<TransferJob> job, std::int64_t bytes);
        void complete(std::shared_ptr<TransferJob> job, std::string sha256);
        void failed(std::shared_ptr<TransferJob> job);

    private:
        std::shared_ptr<JobBoard> board_;
        std::vector<std::function<void()>> changes_;
    };

    std::shared_ptr<TransferJob> admit(const StartMessage& start);
    bool admitted(const std::string& from);
    std::string refusalOf(const std::string& from, std::int64_t id) const;
    void watchIdle(std::int64_t id, core::Millis delay);
    void checkIdle(std::int64_t id);
    // Ends the transfer as failed and forgets it.
    Entries::iterator fail(Entries::iterator entry, Updates& updates);

    // The chunk taken in, and the confirmation due for it, if any. With mutex_ held.
    std::optional<nlohmann::json> take(const ChunkMessage& chunk, Updates& updates);

    TransferChannel& channel_;
    core::Scheduler& timers_;
    std::shared_ptr<const core::Clock> clock_;
    std::shared_ptr<JobBoard> board_;
    Authorizer authorizer_;
    std::mutex mutex_;
    DestinationPolicy destination_;
    Entries receivers_;
    std::set<std::string> refused_; // senders already logged as refused
};

} // namespace tavoro::files
