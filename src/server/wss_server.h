#pragma once

#include "core/clock.h"
#include "server/connection.h"
#include "server/send_queue.h"
#include "tls/certificate.h"

#include <boost/asio/io_context.hpp>

#include <functional>
#include <memory>
#include <string>

namespace tavoro::server {

struct WssLimits {
    std::size_t maxTextBytes = 1024 * 1024;
    std::size_t maxBinaryBytes = 8 * 1024 * 1024;
    // Each connection's queue; a connection whose text overflows it is closed. Senders are never held
    // back for a receiver: one slow receiver must not stall everything else its sender does.
    SendQueueLimits queue;
    // All queues together; over it the connections holding the most are closed.
    std::size_t queueBudget = 256 * 1024 * 1024;
    // Connections (from accept on, before TLS) that one source address may hold.
    std::size_t maxPerAddress = 256;
    core::Millis handshakeTimeout{20'000};
    // Silence after which a ping goes out is half of this; silence for all of it closes.
    core::Millis idleTimeout{40'000};
};

// The TLS WebSocket endpoint: accepts TCP, does the TLS handshake, upgrades requests for "/ws"
// (every other path gets HTTP 404), reads messages and reports them to ConnectionEvents, and writes
// what the ConnectionSink operations queue, one write at a time per connection. Connections over the
// per-address limit are closed right after accept; when the process is out of descriptors, pending
// connections are accepted on a descriptor held in reserve and closed, and that is logged once a minute.
//
// Construction and destruction happen on the controlling thread while the loop is not running
// handlers of this server; every other method runs on the thread that runs `context` (the signaling
// thread), except port(), which any thread may read after listen().
class WssServer final : public ConnectionSink {
public:
    WssServer(boost::asio::io_context& context, WssLimits limits = {});
    ~WssServer() override;
    WssServer(const WssServer&) = delete;
    WssServer& operator=(const WssServer&) = delete;

    // TLS identity and listening socket; false with error set when either fails.
    bool listen(const tls::PemIdentity& identity, const std::string& address, std::uint16_t port,
        ConnectionEvents& events, std::string& error);
    std::uint16_t port() const;

    // Stops accepting and closes every connection with "going away"; `done` runs on the signaling
    // thread once all are closed, or after two seconds at most.
    void shutdown(std::function<void()> done);

    // Housekeeping, about once a second: gives memory back to the system after a burst of queued
    // messages, and takes back the descriptor held in reserve if it was lost.
    void tick();

    void sendText(ConnectionId id, std::string text) override;
    void sendBinary(ConnectionId id, SharedBytes bytes) override;
    void close(ConnectionId id) override;

    class Impl;

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace tavoro::server
