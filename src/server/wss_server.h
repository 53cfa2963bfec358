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
    SendQueueLimits queue;
    // A sender whose text pushes a receiver's queue above the high mark is not read from again until
    // that queue is back under the low mark: fast senders slow down instead of drowning receivers.
    std::size_t textHighWater = 2 * 1024 * 1024;
    std::size_t textLowWater = 512 * 1024;
    core::Millis handshakeTimeout{20'000};
    // Silence after which a ping goes out is half of this; silence for all of it closes.
    core::Millis idleTimeout{40'000};
};

// The TLS WebSocket endpoint: accepts TCP, does the TLS handshake, upgrades requests for "/ws"
// (every other path gets HTTP 404), reads messages and reports them to ConnectionEvents, and writes
// what the ConnectionSink operations queue, one write at a time per connection.
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

    void sendText(ConnectionId id, std::string text) override;
    void sendBinary(ConnectionId id, SharedBytes bytes) override;
    void close(ConnectionId id) override;

    class Impl;

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace tavoro::server
