#include "control/recording.h"

#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace tavoro::control {
namespace {

std::optional<NewMediaFile> openTarget(const platform::UserFolders& folders, const core::WallClock& wallClock,
    const std::optional<std::filesystem::path>& path)
{
    if (path) {
        core::UniqueFd fd(::open(path->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
        if (!fd.valid()) {
            return std::nullopt;
        }
        return NewMediaFile{std::move(fd), *path};
    }
    std::error_code ignored;
    std::filesystem::create_directories(folders.pictures(), ignored);
    return openUniqueMediaFile(folders.pictures(), wallClock.now(), ".png");
}

bool writeDurably(core::UniqueFd fd, std::span<const std::uint8_t> bytes)
{
    return writeAll(fd.get(), bytes) == bytes.size() && ::fsync(fd.get()) == 0 && ::close(fd.release()) == 0;
}

} // namespace

std::string saveScreenshot(std::span<const std::uint8_t> png, const platform::UserFolders& folders,
    const core::WallClock& wallClock, const std::optional<std::filesystem::path>& path)
{
    auto file = openTarget(folders, wallClock, path);
    if (!file) {
        return "✗ 截图保存失败";
    }
    if (!writeDurably(std::move(file->fd), png)) {
        std::error_code ignored;
        if (std::filesystem::is_regular_file(file->path, ignored)) { // never a device such as /dev/full
            ::unlink(file->path.c_str());
        }
        return "✗ 截图保存失败";
    }
    return "✓ 截图已保存：" + file->path.filename().string();
}

} // namespace tavoro::control
