#pragma once

#include "core/clock.h"
#include "core/scheduler.h"
#include "core/serial_queue.h"
#include "files/job_board.h"
#include "files/transfer_channel.h"
#include "files/transfer_messages.h"

#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace tavoro::files {

// Reads and sends this side's files, one after another, on the worker queue.
//
// A transfer announces itself only when its turn comes (so a waiting one cannot time out at the
// receiver), sends only regular files, and paces itself by the connection: at most kWindowChunks of
// its messages wait unwritten in the socket, and chunks go at most one per kChunkInterval on average
// (a token bucket, so reading and encoding time counts toward the interval). It reports "完成" only
// once the connection it started on has written everything, "done" included; a read error, a
// message not handed to an open connection, a change of connection or kStallLimit without the socket
// writing anything ends it "中断".
//
// Threads: enqueue() from any thread; everything else runs on the worker. Timers only post back to the
// worker. The channel, worker, timers and clock outlive this object; queued work holds it weakly.
class OutgoingTransfers : public std::enable_shared_from_this<OutgoingTransfers> {
public:
    static constexpr std::size_t kWindowChunks = 4;
    static constexpr core::Millis kChunkInterval{2};
    static constexpr core::Millis kPollInterval{2};
    static constexpr core::Millis kStallLimit{30'000};
    // What may be under way beyond the receiver's confirmations: enough to keep the connection busy,
    // little enough that other messages on it are not held up for long behind file data.
    static constexpr std::int64_t kAckWindowBytes = 8 * 65536;
    static constexpr core::Millis kFirstAckWait{2'000};

    struct Request {
        std::shared_ptr<TransferJob> job;
        std::filesystem::path path;
        std::string destDir;
        std::string to;
        std::string callId;
    };

    OutgoingTransfers(TransferChannel& channel, core::SerialQueue& worker, core::Scheduler& timers,
        std::shared_ptr<const core::Clock> clock, std::shared_ptr<JobBoard> board);
    ~OutgoingTransfers();

    void enqueue(Request request);
    // A receiver's "file_xfer_ack". Any thread.
    void confirm(const AckMessage& ack);

private:
    struct Active;

    void startNext();
    void pump();
    // One step of the active transfer; false when it must wait (a timer is then armed) or it ended.
    bool step();
    bool sendNextChunk();
    void waitFor(core::Millis delay);
    void end(bool ok, bool sendDone);
    bool waitingForReceiver(core::SteadyTime now);

    TransferChannel& channel_;
    core::SerialQueue& worker_;
    core::Scheduler& timers_;
    std::shared_ptr<const core::Clock> clock_;
    std::shared_ptr<JobBoard> board_;
    std::deque<Request> pending_;    // worker only
    std::unique_ptr<Active> active_; // worker only
};

} // namespace tavoro::files
