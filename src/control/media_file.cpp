#include "control/media_file.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace tavoro::control {
namespace {

// More same-second files than this in one folder means something else is wrong.
constexpr int kMaxSuffix = 1000;

} // namespace

std::string mediaFileName(std::chrono::system_clock::time_point when, const std::string& extension)
{
    const std::time_t seconds =
        std::chrono::system_clock::to_time_t(std::chrono::floor<std::chrono::seconds>(when));
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    return "Tavoro-" + std::string(stamp) + extension;
}

std::optional<NewMediaFile> openUniqueMediaFile(const std::filesystem::path& folder,
    std::chrono::system_clock::time_point when, const std::string& extension)
{
    const std::string stem = mediaFileName(when, "");
    for (int suffix = 1; suffix <= kMaxSuffix; ++suffix) {
        const std::string name = stem + (suffix == 1 ? "" : "-" + std::to_string(suffix)) + extension;
        NewMediaFile file{core::UniqueFd(), folder / name};
        file.fd.reset(::open(file.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (file.fd.valid()) {
            return file;
        }
        if (errno != EEXIST) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

std::optional<std::filesystem::path> createUniqueMediaFile(const std::filesystem::path& folder,
    std::chrono::system_clock::time_point when, const std::string& extension)
{
    auto file = openUniqueMediaFile(folder, when, extension);
    if (!file) {
        return std::nullopt;
    }
    return std::move(file->path);
}

std::size_t writeAll(int fd, std::span<const std::uint8_t> bytes)
{
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        written += static_cast<std::size_t>(n);
    }
    return written;
}

} // namespace tavoro::control
