#include "server/descriptor_reserve.h"

#include <fcntl.h>
#include <sys/socket.h>

namespace tavoro::server {

bool DescriptorReserve::refuseOne(int listenFd)
{
    spare_.reset();
    bool accepted = false;
    {
        const core::UniqueFd refused(::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        accepted = refused.valid();
    } // closed before the spare is taken back: it needs that descriptor
    refill();
    return accepted;
}

void DescriptorReserve::refill()
{
    if (!spare_.valid()) {
        spare_.reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    }
}

} // namespace tavoro::server
