#include "control/recording.h"

#include "core/log.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <system_error>

namespace tavoro::control {
namespace {

std::string fileName(const std::filesystem::path& path) { return path.filename().string(); }

std::optional<NewMediaFile> openInFolder(const std::filesystem::path& folder,
    std::chrono::system_clock::time_point when)
{
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    return openUniqueMediaFile(folder, when, ".h264");
}

} // namespace

struct Recording::State {
    State(const platform::UserFolders& folders, const core::WallClock& wallClock)
        : folders(folders), wallClock(wallClock)
    {
    }

    const platform::UserFolders& folders;
    const core::WallClock& wallClock;

    mutable std::mutex mutex; // guards every field below
    core::UniqueFd file;
    std::optional<std::filesystem::path> lastFile;
    std::uint64_t bytesWritten = 0;
    bool writeFailed = false;

    std::string begin(NewMediaFile opened)
    {
        file = std::move(opened.fd);
        lastFile = std::move(opened.path);
        bytesWritten = 0;
        writeFailed = false;
        return "● 录制中：" + fileName(*lastFile);
    }
};

Recording::Recording(const platform::UserFolders& folders, const core::WallClock& wallClock)
    : state_(std::make_unique<State>(folders, wallClock))
{
}

Recording::~Recording() = default;

std::string Recording::start()
{
    const auto when = state_->wallClock.now();
    auto opened = openInFolder(state_->folders.videos(), when);
    if (!opened) {
        opened = openInFolder(state_->folders.temporary(), when);
    }
    if (!opened) {
        return "✗ 录像无法创建文件";
    }
    std::lock_guard lock(state_->mutex);
    return state_->begin(std::move(*opened));
}

std::string Recording::startAt(const std::filesystem::path& path)
{
    core::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!fd.valid()) {
        return "✗ 录像无法创建文件";
    }
    std::lock_guard lock(state_->mutex);
    return state_->begin({std::move(fd), path});
}

void Recording::write(std::span<const std::uint8_t> accessUnit)
{
    std::lock_guard lock(state_->mutex);
    if (!state_->file.valid()) {
        return;
    }
    const std::size_t written = writeAll(state_->file.get(), accessUnit);
    state_->bytesWritten += written;
    if (written < accessUnit.size()) {
        log::warn("Tavoro: 录像写入失败 " + state_->lastFile->string() + ": " + std::strerror(errno));
        state_->writeFailed = true;
        state_->file.reset();
    }
}

std::string Recording::stop()
{
    std::lock_guard lock(state_->mutex);
    state_->file.reset();
    if (!state_->lastFile) {
        return "录制已停止";
    }
    const std::string name = fileName(*state_->lastFile);
    if (state_->writeFailed) {
        return "✗ 录像写入失败：" + name + "（已保留写入的部分）";
    }
    return "✓ 录像已保存：" + name;
}

void Recording::close()
{
    std::lock_guard lock(state_->mutex);
    state_->file.reset();
}

bool Recording::isOpen() const
{
    std::lock_guard lock(state_->mutex);
    return state_->file.valid();
}

std::optional<std::filesystem::path> Recording::lastFile() const
{
    std::lock_guard lock(state_->mutex);
    return state_->lastFile;
}

std::uint64_t Recording::bytesWritten() const
{
    std::lock_guard lock(state_->mutex);
    return state_->bytesWritten;
}

} // namespace tavoro::control
