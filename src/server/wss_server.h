#pragma once

#include "core/clock.h"
#include "core/result.h"
#include "server/connection.h"
#include "server/send_queue.h"
#include "tls/certificate.h"

#include <boost/asio/io_context.hpp>

#include <functional>
#include <memory>
#include <vector>
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
// Threads. The hub context is the serial context of the ConnectionEvents (the hub): the acceptor, the
// table of open connections, every ConnectionEvents call and the housekeeping run on the thread that
// runs it. Each accepted connection is served by one of the serving contexts (each run by one thread
// of its own; the hub context may be one of them), taken in turn: its TLS and WebSocket work (handshake,
// reads, writes, framing, its send queue) happens on that thread only. What a connection reads goes to
// the hub context in order (a plain call when both are the same thread, else a posted task), and what
// the sink operations ask of a connection goes to its serving thread in order the same way; so the
// messages from one connection to another keep their order.
//
// Construction and destruction happen on the controlling thread while no context runs handlers of this
// server; listen(), shutdown(), tick() and the ConnectionSink operations run on the hub context's
// thread; port() may be read by any thread after listen(). The contexts outlive the server.
class WssServer final : public ConnectionSink {
public:
    using Contexts = std::vector<std::reference_wrapper<boost::asio::io_context>>;

    // `serving` empty: the hub context serves every connection itself.
    WssServer(boost::asio::io_context& hubContext, Contexts serving, WssLimits limits = {});
    ~WssServer() override;
    WssServer(const WssServer&) = delete;
    WssServer& operator=(const WssServer&) = delete;

    // TLS identity and listening socket; a failure when either fails.
    Result<> listen(const tls::PemIdentity& identity, const std::string& address, std::uint16_t port,
        ConnectionEvents& events);
    std::uint16_t port() const;

    // Stops accepting and closes every connection with "going away"; `done` runs on the hub context's
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
