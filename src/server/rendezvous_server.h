#pragma once

#include "core/clock.h"
#include "core/event_loop.h"
#include "core/result.h"
#include "platform/secure_random.h"
#include "server/rate_limiter.h"
#include "server/redis/redis_url.h"
#include "tls/certificate.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tavoro::core {
class AsioScheduler;
class RepeatingTimer;
} // namespace tavoro::core

namespace tavoro::server {

class DeviceKeyStore;
class Hub;
class RedisCluster;
class RelayService;
class SmsGateway;
class StunService;
class WssServer;

struct ServerConfig {
    std::string listenAddress = "0.0.0.0"; // numeric; the UDP services bind to it too when it is IPv4
    std::uint16_t listenPort = 8443;
    std::uint16_t relayPort = 3479;
    std::uint16_t stunPort = 3478;
    std::string publicHost;
    std::string accessToken = "qxm";
    tls::PemIdentity identity;
    double relayRateMbit = 100;
    // Live UDP relay sessions a caller's device, and a signaling source address, may hold.
    std::size_t relaysPerDevice = 4;
    std::size_t relaysPerAddress = 16;
    RateLimit callRate; // per connection and per source address
    std::size_t maxPerAddress = 256; // connections one source address may hold
    std::vector<std::string> standingRelayTokens;
    // Where the device key store lives (device_keys.sqlite3); empty: kept in memory, lost on restart.
    std::filesystem::path stateDir;
    // The Redis server a cluster of rendezvous servers shares; absent: this server alone.
    std::optional<redis::RedisUrl> redis;
    std::chrono::milliseconds clusterLease{10'000};  // how long a device ID stays held without renewal
    std::chrono::milliseconds clusterRenewal{3'000}; // how often a node renews the IDs it holds
    // Threads serving the TLS WebSocket connections; 1: "rdv.signaling" serves them beside the hub.
    std::size_t threads = std::max(1u, std::thread::hardware_concurrency());
};

// The whole rendezvous server in one object, on threads of its own: "rdv.signaling" runs the hub
// (routing, device keys, aliases, SMS codes, relay allocation), its once-a-second tick and the TLS
// WebSocket endpoint's acceptor; with `threads` 1 it serves every connection too (TLS, WebSocket
// framing, reads and writes; see WssServer), else "rdv.serve.1" to "rdv.serve.N" serve them and the
// hub keeps its thread to itself; "rdv.relay" runs the UDP relay and the STUN responder. With a Redis server in its
// configuration it is one node of a cluster (RedisCluster, on "rdv.signaling" with the hub, so its
// callbacks reach the hub on the hub's thread) under a node ID drawn afresh at each start.
// start() and stop() are called from one controlling thread (the program's main thread, or a test);
// the getters from any thread after start().
class RendezvousServer {
public:
    RendezvousServer(ServerConfig config, SmsGateway& sms);
    ~RendezvousServer();
    RendezvousServer(const RendezvousServer&) = delete;
    RendezvousServer& operator=(const RendezvousServer&) = delete;

    // Opens every port; a failure when one cannot be opened (nothing is left open then).
    Result<> start();
    // Closes every connection ("going away") and every port. Idempotent.
    void stop();

    std::uint16_t wssPort() const;
    std::uint16_t relayPort() const;
    std::uint16_t stunPort() const;
    std::string fingerprint() const; // SHA-256 of the certificate, lower-case hex
    const std::string& nodeId() const { return nodeId_; } // empty without a cluster

private:
    Result<> startSignaling();
    void joinCluster();

    ServerConfig config_;
    SmsGateway& sms_;
    core::SteadyClock clock_;
    std::unique_ptr<platform::SecureRandom> random_;
    core::EventLoopThread relayLoop_{"rdv.relay"};
    core::EventLoopThread signalingLoop_{"rdv.signaling"};
    std::vector<std::unique_ptr<core::EventLoopThread>> servingLoops_; // "rdv.serve.N", outlive wss_
    std::unique_ptr<RelayService> relay_;
    std::unique_ptr<StunService> stun_;
    std::unique_ptr<WssServer> wss_;
    std::unique_ptr<DeviceKeyStore> deviceKeys_;
    std::string nodeId_;
    std::unique_ptr<RedisCluster> cluster_; // gone before hub_, which it calls
    std::unique_ptr<Hub> hub_;
    std::unique_ptr<core::AsioScheduler> scheduler_;
    std::unique_ptr<core::RepeatingTimer> tick_;
    bool started_ = false;
};

} // namespace tavoro::server
