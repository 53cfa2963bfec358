#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The seam between the WebSocket server (which owns the sockets) and the hub (which decides what
// each message means). Both sides are used on the hub's thread only: the WebSocket server makes its
// ConnectionEvents calls there, and takes the ConnectionSink calls made there to each connection's own
// serving thread itself, in the order made.
namespace tavoro::server {

using ConnectionId = std::uint64_t;
using SharedBytes = std::shared_ptr<const std::vector<std::uint8_t>>;

struct ConnectionInfo {
    std::string peer;         // "address:port" of the client, for the log
    std::string localAddress; // the server address the client reached (IPv4-mapped addresses unmapped)
    std::string peerAddress;  // the client's address alone (unmapped likewise): what per-address limits count
};

// What happens on the connections, reported by the WebSocket server.
class ConnectionEvents {
public:
    virtual ~ConnectionEvents() = default;
    virtual void opened(ConnectionId id, const ConnectionInfo& info) = 0;
    virtual void text(ConnectionId id, std::string_view text) = 0;
    virtual void binary(ConnectionId id, const SharedBytes& bytes) = 0;
    // Reported once per opened connection, whoever closed it.
    virtual void closed(ConnectionId id) = 0;
};

// What the hub asks of the connections. Unknown or closed IDs are ignored.
class ConnectionSink {
public:
    virtual ~ConnectionSink() = default;
    virtual void sendText(ConnectionId id, std::string text) = 0;
    virtual void sendBinary(ConnectionId id, SharedBytes bytes) = 0;
    // Closes the connection once what was queued for it before has been written.
    virtual void close(ConnectionId id) = 0;
};

} // namespace tavoro::server
