#include "files/file_transfer_manager.h"

#include "files/file_receiver.h"
#include "files/transfer_messages.h"
#include "files/transfer_names.h"

#include <limits>
#include <random>

namespace tavoro::files {
namespace {

std::int64_t randomTransferId()
{
    std::random_device device;
    std::uniform_int_distribution<std::int64_t> range(1, std::numeric_limits<std::int64_t>::max());
    return range(device);
}

std::int64_t sizeOf(const std::filesystem::path& path)
{
    std::error_code error;
    const auto size = std::filesystem::is_regular_file(path, error) ? std::filesystem::file_size(path, error) : 0;
    return error ? 0 : static_cast<std::int64_t>(size);
}

} // namespace

FileTransferManager::FileTransferManager(TransferChannel& channel, core::SerialQueue& worker, core::MainQueue& main,
    core::Scheduler& timers, std::shared_ptr<const core::Clock> clock, const platform::UserFolders& folders,
    Authorizer isSessionPeer, IdSource newId)
    : board_(std::make_shared<JobBoard>(main)), newId_(newId ? std::move(newId) : IdSource(randomTransferId)),
      outgoing_(std::make_shared<OutgoingTransfers>(channel, worker, timers, clock, board_)),
      incoming_(std::make_shared<IncomingTransfers>(channel, timers, std::move(clock), board_, std::move(isSessionPeer),
          [&folders](const std::string&, const std::string& destDir) { return FileReceiver::resolveDir(destDir, folders); }))
{
}

FileTransferManager::~FileTransferManager() = default;

std::int64_t FileTransferManager::send(const std::filesystem::path& path, const std::string& destDir,
    const std::string& to, const std::string& callId)
{
    auto job = std::make_shared<TransferJob>(newId_(), sentFileName(path.string()), true, sizeOf(path));
    board_->add(job);
    const auto id = job->id;
    outgoing_->enqueue({std::move(job), path, destDir, to, callId});
    return id;
}

bool FileTransferManager::handleMessage(const std::string& type, const nlohmann::json& msg)
{
    if (type == kStartType) {
        incoming_->onStart(msg);
    } else if (type == kChunkType) {
        incoming_->onChunk(msg);
    } else if (type == kDoneType) {
        incoming_->onDone(msg);
    } else if (type == kAckType) {
        outgoing_->confirm(readAck(msg));
    } else {
        return false;
    }
    return true;
}

void FileTransferManager::setDestinationPolicy(DestinationPolicy destination)
{
    incoming_->setDestinationPolicy(std::move(destination));
}

void FileTransferManager::abandonFrom(const std::string& peer) { incoming_->abandonFrom(peer); }

void FileTransferManager::abandonAll() { incoming_->abandonAll(); }

} // namespace tavoro::files
