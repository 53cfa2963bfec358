#include "files/positioned_io.h"

#include <cerrno>
#include <unistd.h>

namespace tavoro::files {
namespace {

// Calls io(offset, remaining) until every byte is moved.
template <typename Byte, typename Io>
bool wholeAt(std::span<Byte> bytes, std::int64_t offset, Io io)
{
    while (!bytes.empty()) {
        const ssize_t n = io(bytes, offset);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(n));
        offset += n;
    }
    return true;
}

} // namespace

bool readExactlyAt(int fd, std::span<std::uint8_t> bytes, std::int64_t offset)
{
    return wholeAt(bytes, offset, [fd](std::span<std::uint8_t> rest, std::int64_t at) {
        return ::pread(fd, rest.data(), rest.size(), static_cast<off_t>(at));
    });
}

bool writeAllAt(int fd, std::span<const std::uint8_t> bytes, std::int64_t offset)
{
    return wholeAt(bytes, offset, [fd](std::span<const std::uint8_t> rest, std::int64_t at) {
        return ::pwrite(fd, rest.data(), rest.size(), static_cast<off_t>(at));
    });
}

} // namespace tavoro::files
