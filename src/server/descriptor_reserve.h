#pragma once

#include "core/unique_fd.h"

namespace tavoro::server {

// One descriptor held in reserve (open on /dev/null) so that a server out of descriptors can still
// refuse a pending connection cleanly: free the spare, accept the connection, close it at once, take
// the spare back. Without it the connection waits in the backlog until its client gives up.
// Used on one thread (the one that accepts).
class DescriptorReserve {
public:
    DescriptorReserve() { refill(); }

    // Accepts one pending connection on the listening socket `listenFd` (non-blocking) and closes
    // it. False when none was pending or it could not be accepted even so.
    bool refuseOne(int listenFd);
    // Takes the spare back if an earlier attempt could not; cheap when it is held.
    void refill();

private:
    core::UniqueFd spare_;
};

} // namespace tavoro::server
