#pragma once

#include "core/clock.h"
#include "core/event_loop.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tavoro::server {

class RelayService;
class StunService;

struct ServerConfig {
    std::string listenAddress = "0.0.0.0"; // numeric; the UDP services bind to it too when it is IPv4
    std::uint16_t relayPort = 3479;
    std::uint16_t stunPort = 3478;
    double relayRateMbit = 100;
    std::vector<std::string> standingRelayTokens;
};

// The whole rendezvous server in one object, on its own threads: "rdv.relay" runs the UDP relay and
// the STUN responder. start() and stop() are called from one controlling thread (the program's main
// thread, or a test); the port getters from any thread after start().
class RendezvousServer {
public:
    explicit RendezvousServer(ServerConfig config);
    ~RendezvousServer();
    RendezvousServer(const RendezvousServer&) = delete;
    RendezvousServer& operator=(const RendezvousServer&) = delete;

    // Opens every port; false with error set when one cannot be opened (nothing is left open then).
    bool start(std::string& error);
    // Closes everything. Idempotent.
    void stop();

    std::uint16_t relayPort() const;
    std::uint16_t stunPort() const;

private:
    ServerConfig config_;
    core::SteadyClock clock_;
    core::EventLoopThread relayLoop_{"rdv.relay"};
    std::unique_ptr<RelayService> relay_;
    std::unique_ptr<StunService> stun_;
    bool started_ = false;
};

} // namespace tavoro::server
