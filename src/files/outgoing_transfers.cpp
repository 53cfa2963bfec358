#include "files/outgoing_transfers.h"

#include "core/unique_fd.h"
#include "files/base64.h"
#include "files/positioned_io.h"
#include "files/send_pacer.h"
#include "files/sha256.h"
#include "files/transfer_messages.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tavoro::files {
namespace {

// Opens a regular file for reading without ever blocking (a FIFO would block a plain open); any other
// kind of file is refused. Gives the size through `size`.
core::UniqueFd openRegularFile(const std::filesystem::path& path, std::int64_t& size)
{
    core::UniqueFd file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (!file.valid() || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return {};
    }
    size = info.st_size;
    return file;
}

} // namespace

struct OutgoingTransfers::Active {
    Request request;
    TransferAddress address;
    core::UniqueFd file;
    std::int64_t size = 0;
    std::int64_t offset = 0;
    Sha256 sha;
    std::uint64_t connection = 0;
    ChunkRateLimiter limiter{kChunkInterval, static_cast<int>(kWindowChunks)};
    AckWindow acks{kAckWindowBytes, kFirstAckWait};
    std::optional<bool> stored; // the receiver's last word on the whole file, when it gives one
    core::SteadyTime lastAck{}; // the start, then the last confirmation
    SendWindow window{kWindowChunks};
    std::uint64_t lastWritten = 0;
    core::SteadyTime lastProgress{};
    bool doneSent = false;
    std::vector<std::uint8_t> buffer;
};

OutgoingTransfers::OutgoingTransfers(TransferChannel& channel, core::SerialQueue& worker, core::Scheduler& timers,
    std::shared_ptr<const core::Clock> clock, std::shared_ptr<JobBoard> board)
    : channel_(channel), worker_(worker), timers_(timers), clock_(std::move(clock)), board_(std::move(board))
{
}

OutgoingTransfers::~OutgoingTransfers() = default;

void OutgoingTransfers::enqueue(Request request)
{
    worker_.post([weak = weak_from_this(), request = std::move(request)]() mutable {
        if (auto self = weak.lock()) {
            self->pending_.push_back(std::move(request));
            if (!self->active_) {
                self->startNext();
            }
        }
    });
}

void OutgoingTransfers::confirm(const AckMessage& ack)
{
    worker_.post([weak = weak_from_this(), ack] {
        auto self = weak.lock();
        if (!self || !self->active_ || self->active_->address.id != ack.id || self->active_->address.to != ack.from) {
            return;
        }
        self->active_->acks.confirmed(ack.received);
        self->active_->lastAck = self->clock_->now();
        if (ack.complete) {
            self->active_->stored = ack.complete;
        }
    });
}

void OutgoingTransfers::startNext()
{
    while (!active_ && !pending_.empty()) {
        auto active = std::make_unique<Active>();
        active->request = std::move(pending_.front());
        pending_.pop_front();
        const auto& request = active->request;
        active->address = {request.to, request.callId, request.job->id};
        active->file = openRegularFile(request.path, active->size);
        active->connection = channel_.connectionNumber();
        active->lastWritten = channel_.writtenBytes();
        active->lastProgress = clock_->now();
        active->lastAck = active->lastProgress;
        const bool announced =
            channel_.send(kStartType, startPayload(active->address, request.job->name, active->size, request.destDir));
        active_ = std::move(active);
        if (!active_->file.valid() || !announced) {
            end(false, true);
            continue;
        }
        board_->setStatus(active_->request.job, kStatusTransferring);
        pump();
    }
}

void OutgoingTransfers::pump()
{
    while (active_ && step()) {
    }
}

bool OutgoingTransfers::step()
{
    auto& active = *active_;
    if (channel_.connectionNumber() != active.connection) {
        end(false, true);
        return false;
    }
    const auto now = clock_->now();
    const auto written = channel_.writtenBytes();
    if (written != active.lastWritten) {
        active.lastWritten = written;
        active.lastProgress = now;
    }
    active.window.retire(written);
    if (active.doneSent && active.window.empty() && !waitingForReceiver(now)) {
        end(active.stored.value_or(true), false);
        return false;
    }
    const bool receiverBehind = !active.acks.allows(active.offset + kChunkSize, now);
    if (active.doneSent || active.window.full() || receiverBehind) {
        if (now - (receiverBehind ? active.lastAck : active.lastProgress) >= kStallLimit) {
            end(false, !active.doneSent);
            return false;
        }
        waitFor(kPollInterval);
        return false;
    }
    if (const auto wait = active.limiter.waitBefore(now); wait.count() > 0) {
        waitFor(wait);
        return false;
    }
    return sendNextChunk();
}

bool OutgoingTransfers::sendNextChunk()
{
    auto& active = *active_;
    const auto now = clock_->now();
    // The mark is taken after sending: everything queued by then, this message included, must be written.
    auto queue = [&](const char* type, nlohmann::json payload) {
        if (!channel_.send(type, std::move(payload))) {
            return false;
        }
        const auto unsent = channel_.unsentBytes();
        active.window.record(unsent + channel_.writtenBytes());
        active.lastProgress = now;
        return true;
    };
    if (active.offset == active.size) {
        active.doneSent = true;
        if (!queue(kDoneType, donePayload(active.address, true, active.offset, active.sha.hexDigest()))) {
            end(false, false);
            return false;
        }
        return true;
    }
    const auto length = std::min(kChunkSize, active.size - active.offset);
    active.buffer.resize(static_cast<std::size_t>(length));
    if (!readExactlyAt(active.file.get(), active.buffer, active.offset)) {
        end(false, true);
        return false;
    }
    active.sha.update(active.buffer);
    if (!queue(kChunkType, chunkPayload(active.address, active.offset, encodeBase64(active.buffer)))) {
        end(false, true);
        return false;
    }
    active.limiter.take(now);
    active.offset += length;
    board_->setSent(active.request.job, active.offset);
    return true;
}

// A receiver that confirms what it got also says whether it stored the whole file: "完成" waits for that.
bool OutgoingTransfers::waitingForReceiver(core::SteadyTime now)
{
    auto& active = *active_;
    if (!active.acks.heardFromReceiver() || active.stored) {
        return false;
    }
    if (now - active.lastAck >= kStallLimit) {
        active.stored = false;
        return false;
    }
    return true;
}

void OutgoingTransfers::waitFor(core::Millis delay)
{
    // The worker is reached through the object: a timer that fires after the manager is gone must not
    // touch a worker that may be gone too.
    timers_.after(delay, [weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->worker_.post([weak] {
                if (auto self = weak.lock()) {
                    self->pump();
                    self->startNext();
                }
            });
        }
    });
}

void OutgoingTransfers::end(bool ok, bool sendDone)
{
    auto active = std::move(active_);
    if (sendDone) {
        channel_.send(kDoneType, donePayload(active->address, false, active->offset, {}));
    }
    board_->setStatus(active->request.job, ok ? kStatusDone : kStatusFailed);
}

} // namespace tavoro::files
