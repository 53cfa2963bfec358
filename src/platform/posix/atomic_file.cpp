#include "platform/posix/atomic_file.h"

#include "core/unique_fd.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace tavoro::platform {
namespace {

std::string errnoText(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

bool writeAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

} // namespace

Result<> writeFileAtomically(const std::filesystem::path& path, std::string_view data,
    const std::function<void()>& beforeRename)
{
    const std::filesystem::path temp = path.string() + ".tmp";
    core::UniqueFd file(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (file.get() < 0) {
        return Failure{errnoText("open")};
    }
    if (!writeAll(file.get(), data)) {
        auto error = errnoText("write");
        ::unlink(temp.c_str());
        return Failure{error};
    }
    if (::fsync(file.get()) != 0) {
        auto error = errnoText("fsync");
        ::unlink(temp.c_str());
        return Failure{error};
    }
    if (::close(file.release()) != 0) {
        auto error = errnoText("close");
        ::unlink(temp.c_str());
        return Failure{error};
    }
    if (beforeRename) {
        beforeRename();
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        auto error = errnoText("rename");
        ::unlink(temp.c_str());
        return Failure{error};
    }
    // Make the rename itself durable.
    core::UniqueFd dir(::open(path.parent_path().empty() ? "." : path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) {
        ::fsync(dir.get());
    }
    return {};
}

} // namespace tavoro::platform
