#include "files/incoming_transfers.h"

#include "core/log.h"
#include "files/base64.h"
#include "files/transfer_messages.h"
#include "files/transfer_names.h"

#include <algorithm>

namespace tavoro::files {
namespace {

// Refused senders are logged once each; past this many, the memory of them starts over.
constexpr std::size_t kMaxRememberedRefusals = 256;

void logRefusal(const std::string& from, std::int64_t id, const std::string& reason)
{
    log::warn("Tavoro xfer: ⚠ 拒绝文件传输 " + std::to_string(id) + " (from " + from + "): " + reason);
}

} // namespace

IncomingTransfers::IncomingTransfers(TransferChannel& channel, core::Scheduler& timers,
    std::shared_ptr<const core::Clock> clock, std::shared_ptr<JobBoard> board, Authorizer authorizer,
    DestinationPolicy destination)
    : channel_(channel), timers_(timers), clock_(std::move(clock)), board_(std::move(board)), authorizer_(std::move(authorizer)),
      destination_(std::move(destination))
{
}

IncomingTransfers::~IncomingTransfers()
{
    for (auto& [id, entry] : receivers_) {
        entry.timer->cancel();
    }
}

void IncomingTransfers::setDestinationPolicy(DestinationPolicy destination)
{
    std::lock_guard lock(mutex_);
    destination_ = std::move(destination);
}

void IncomingTransfers::onStart(const nlohmann::json& msg)
{
    const auto start = readStart(msg);
    std::shared_ptr<TransferJob> job;
    {
        std::lock_guard lock(mutex_);
        job = admit(start);
    }
    if (job) {
        board_->add(std::move(job));
    }
}

std::shared_ptr<TransferJob> IncomingTransfers::admit(const StartMessage& start)
{
    if (!admitted(start.from)) {
        return nullptr;
    }
    if (auto reason = refusalOf(start.from, start.id); !reason.empty()) {
        logRefusal(start.from, start.id, reason);
        return nullptr;
    }
    const auto dir = destination_ ? destination_(start.from, start.destDir) : std::filesystem::path();
    if (dir.empty()) {
        logRefusal(start.from, start.id, "目标目录不允许");
        return nullptr;
    }
    const auto size = std::max<std::int64_t>(start.size, 0);
    if (!FileReceiver::hasRoomFor(dir, size)) {
        logRefusal(start.from, start.id, "磁盘空间不足");
        return nullptr;
    }
    const auto name = receivedFileName(start.name);
    auto receiver = FileReceiver::create(dir, name, size, start.id);
    if (!receiver) {
        logRefusal(start.from, start.id, "无法创建文件 " + (dir / name).string());
        return nullptr;
    }
    auto job = std::make_shared<TransferJob>(start.id, name, false, size, kStatusTransferring);
    receivers_.emplace(start.id, Entry{start.from, start.callId, 0, std::move(receiver), job, clock_->now(), nullptr});
    watchIdle(start.id, kIdleLimit);
    return job;
}

void IncomingTransfers::onChunk(const nlohmann::json& msg)
{
    const auto chunk = readChunk(msg);
    std::optional<nlohmann::json> ack;
    {
        Updates updates{board_};
        std::lock_guard lock(mutex_);
        ack = take(chunk, updates);
    }
    if (ack) {
        channel_.send(kAckType, std::move(*ack));
    }
}

std::optional<nlohmann::json> IncomingTransfers::take(const ChunkMessage& chunk, Updates& updates)
{
    auto entry = receivers_.find(chunk.id);
    if (entry == receivers_.end() || entry->second.from != chunk.from || chunk.data == nullptr) {
        return std::nullopt;
    }
    const auto bytes = decodeBase64(chunk.data->get_ref<const std::string&>());
    if (!bytes) {
        return std::nullopt;
    }
    auto& transfer = entry->second;
    auto& receiver = *transfer.receiver;
    switch (receiver.write(chunk.offset, *bytes)) {
    case FileReceiver::WriteResult::outOfRange:
        return std::nullopt;
    case FileReceiver::WriteResult::failed:
        log::warn("Tavoro xfer: ⚠ 写入失败: " + receiver.target().string());
        fail(entry, updates);
        return std::nullopt;
    case FileReceiver::WriteResult::written:
        break;
    }
    transfer.lastChunk = clock_->now();
    updates.sent(transfer.job, receiver.receivedBytes());
    if (receiver.receivedBytes() - transfer.confirmed < kAckEvery) {
        return std::nullopt;
    }
    transfer.confirmed = receiver.receivedBytes();
    return ackPayload({transfer.from, transfer.callId, chunk.id}, transfer.confirmed);
}

void IncomingTransfers::onDone(const nlohmann::json& msg)
{
    const auto done = readDone(msg);
    std::optional<nlohmann::json> ack;
    {
        Updates updates{board_};
        std::lock_guard lock(mutex_);
        auto entry = receivers_.find(done.id);
        if (entry == receivers_.end() || entry->second.from != done.from) {
            return;
        }
        auto finished = std::move(entry->second);
        receivers_.erase(entry);
        finished.timer->cancel();
        const auto received = finished.receiver->receivedBytes();
        auto digest = finished.receiver->finish(done.ok, done.sent, done.sha256);
        ack = ackPayload({finished.from, finished.callId, done.id}, received, digest.has_value());
        if (digest) {
            updates.complete(finished.job, std::move(*digest));
        } else {
            updates.failed(finished.job);
        }
    }
    channel_.send(kAckType, std::move(*ack));
}

void IncomingTransfers::abandonFrom(const std::string& peer)
{
    Updates updates{board_};
    std::lock_guard lock(mutex_);
    for (auto entry = receivers_.begin(); entry != receivers_.end();) {
        entry = entry->second.from == peer ? fail(entry, updates) : std::next(entry);
    }
}

void IncomingTransfers::abandonAll()
{
    Updates updates{board_};
    std::lock_guard lock(mutex_);
    for (auto entry = receivers_.begin(); entry != receivers_.end();) {
        entry = fail(entry, updates);
    }
}

bool IncomingTransfers::admitted(const std::string& from)
{
    if (!from.empty() && authorizer_ && authorizer_(from)) {
        return true;
    }
    if (refused_.size() >= kMaxRememberedRefusals) {
        refused_.clear();
    }
    if (refused_.insert(from).second) {
        log::warn("Tavoro xfer: ⚠ 拒绝文件传输: " + from + " 不是会话对端");
    }
    return false;
}

std::string IncomingTransfers::refusalOf(const std::string& from, std::int64_t id) const
{
    if (receivers_.contains(id)) {
        return "传输编号已在使用";
    }
    const auto fromPeer = std::count_if(receivers_.begin(), receivers_.end(),
        [&](const auto& entry) { return entry.second.from == from; });
    if (static_cast<std::size_t>(fromPeer) >= kMaxPerPeer || receivers_.size() >= kMaxTotal) {
        return "同时接收的文件过多";
    }
    return {};
}

void IncomingTransfers::watchIdle(std::int64_t id, core::Millis delay)
{
    receivers_.at(id).timer = timers_.after(delay, [weak = weak_from_this(), id] {
        if (auto self = weak.lock()) {
            self->checkIdle(id);
        }
    });
}

void IncomingTransfers::checkIdle(std::int64_t id)
{
    Updates updates{board_};
    std::lock_guard lock(mutex_);
    auto entry = receivers_.find(id);
    if (entry == receivers_.end()) {
        return;
    }
    const auto idle = clock_->now() - entry->second.lastChunk;
    if (idle < kIdleLimit) {
        watchIdle(id, std::chrono::ceil<core::Millis>(kIdleLimit - idle));
        return;
    }
    log::warn("Tavoro xfer: ⚠ 文件传输超时: " + entry->second.receiver->target().string());
    fail(entry, updates);
}

IncomingTransfers::Entries::iterator IncomingTransfers::fail(Entries::iterator entry, Updates& updates)
{
    entry->second.timer->cancel();
    entry->second.receiver->abandon();
    updates.failed(entry->second.job);
    return receivers_.erase(entry);
}

IncomingTransfers::Updates::~Updates()
{
    for (auto& change : changes_) {
        change();
    }
}

void IncomingTransfers::Updates::sent(std::shared_ptr<TransferJob> job, std::int64_t bytes)
{
    changes_.push_back([board = board_, job = std::move(job), bytes] { board->setSent(job, bytes); });
}

void IncomingTransfers::Updates::complete(std::shared_ptr<TransferJob> job, std::string sha256)
{
    changes_.push_back([board = board_, job = std::move(job), sha256 = std::move(sha256)] { board->complete(job, sha256); });
}

void IncomingTransfers::Updates::failed(std::shared_ptr<TransferJob> job)
{
    changes_.push_back([board = board_, job = std::move(job)] { board->setStatus(job, kStatusFailed); });
}

} // namespace tavoro::files
