#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>

namespace tavoro::files {

// The connection a transfer's messages travel on, with what an outgoing transfer needs to pace
// itself by the socket and to notice when queued messages were lost. Every operation is safe from
// any thread.
class TransferChannel {
public:
    virtual ~TransferChannel() = default;
    // Queues {payload…, "type": type}; true when it was handed to an open connection.
    virtual bool send(const std::string& type, nlohmann::json payload) = 0;
    // Bytes queued on the current connection and not yet written to its socket.
    virtual std::uint64_t unsentBytes() const = 0;
    // Bytes the current connection has written so far.
    virtual std::uint64_t writtenBytes() const = 0;
    // Changes whenever a connection is lost or opened: what was queued before a change may be lost.
    virtual std::uint64_t connectionNumber() const = 0;
};

} // namespace tavoro::files
