#pragma once

#include <cstdint>
#include <string>

namespace tavoro::server {

// Where the signaling side gets UDP relay sessions for the calls it forwards. Any thread.
class RelayAllocator {
public:
    virtual ~RelayAllocator() = default;
    // A session for token on behalf of owner (the caller's device ID), whose signaling connection comes
    // from ownerAddress; false when none can be made.
    virtual bool allocate(const std::string& token, const std::string& owner, const std::string& ownerAddress) = 0;
    // The UDP port the relay listens on.
    virtual std::uint16_t port() const = 0;
};

} // namespace tavoro::server
