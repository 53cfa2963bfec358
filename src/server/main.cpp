// tavoro-rendezvous: parses the command line, opens every port, prints the chosen ports (and the
// certificate fingerprint) one per line on stdout, and serves until SIGTERM or SIGINT.
#include "core/log.h"
#include "server/rendezvous_server.h"
#include "server/server_options.h"

#include <csignal>
#include <iostream>

namespace {

using namespace tavoro;

// Blocked in every thread (the server's threads inherit the mask) and taken by sigwait in main.
sigset_t terminationSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    return set;
}

int waitForTermination(const sigset_t& set)
{
    int signal = 0;
    sigwait(&set, &signal);
    return signal;
}

} // namespace

int main(int argc, char** argv)
{
    auto parsed = server::parseOptions(argc, argv, std::cout, std::cerr);
    if (!parsed.options) {
        return parsed.exitCode;
    }
    const server::ServerOptions& options = *parsed.options;
    log::setup("tavoro-rendezvous", false);
    std::signal(SIGPIPE, SIG_IGN);
    const sigset_t signals = terminationSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    server::ServerConfig config;
    config.listenAddress = options.listenAddress;
    config.relayPort = options.relayPort;
    config.stunPort = options.stunPort;
    config.relayRateMbit = options.relayRateMbit;
    config.standingRelayTokens = options.relayTokens;

    server::RendezvousServer rendezvous(config);
    std::string error;
    if (!rendezvous.start(error)) {
        std::cerr << "tavoro-rendezvous: " << error << std::endl;
        return 1;
    }
    std::cout << "listening relay " << rendezvous.relayPort() << "\n"
              << "listening stun " << rendezvous.stunPort() << std::endl;
    log::info("Tavoro rendezvous: ready");

    const int signal = waitForTermination(signals);
    log::info("Tavoro rendezvous: signal " + std::to_string(signal) + ", shutting down");
    rendezvous.stop();
    log::info("Tavoro rendezvous: stopped");
    return 0;
}
