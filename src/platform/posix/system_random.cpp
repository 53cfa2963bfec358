#include "platform/posix/system_random.h"

#include <cerrno>
#include <cstdlib>
#include <sys/random.h>

namespace tavoro::platform {

void SystemRandom::fill(std::span<std::uint8_t> bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = getrandom(bytes.data() + done, bytes.size() - done, 0);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            // Without a secure source there is no safe ID or password to hand out.
            std::abort();
        }
        done += static_cast<std::size_t>(n);
    }
}

} // namespace tavoro::platform
