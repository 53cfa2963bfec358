#pragma once

#include "server/redis/redis_url.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tavoro::server {

// The rendezvous server's command line.
struct ServerOptions {
    std::string listenAddress = "0.0.0.0"; // numeric IPv4 or IPv6 address
    std::uint16_t listenPort = 8443;
    std::uint16_t relayPort = 3479;
    std::uint16_t stunPort = 3478;
    std::string publicHost;        // empty: the address each caller's connection came in on
    std::filesystem::path stateDir; // empty: defaultStateDir()
    std::string token = "qxm";
    std::filesystem::path certFile; // with keyFile; both empty: a self-signed identity in stateDir
    std::filesystem::path keyFile;
    double relayRateMbit = 100;
    std::size_t relaysPerDevice = 4;   // live relay sessions of one calling device
    std::size_t relaysPerAddress = 16; // and of one source address
    double callRate = 1;   // calls a second after the burst, per connection and per source address
    double callBurst = 10;
    std::size_t maxPerAddress = 256; // connections one source address may hold
    std::size_t threads = std::max(1u, std::thread::hardware_concurrency()); // serving the connections
    std::vector<std::string> relayTokens; // standing relay sessions
    std::optional<redis::RedisUrl> redis; // absent: a single server, sharing nothing
    // Advanced, not in --help: how long a device ID stays held without renewal, and how often a node
    // renews its IDs (short ones let tests and drills see a dead node's IDs freed soon).
    std::chrono::milliseconds clusterLease{10'000};
    std::chrono::milliseconds clusterRenewal{3'000};
};

struct ParsedOptions {
    std::optional<ServerOptions> options; // absent: stop with exitCode (help, version, usage error)
    int exitCode = 0;
};

// Parses argv; --help and --version print to out, usage errors to err.
ParsedOptions parseOptions(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

// $XDG_STATE_HOME/tavoro-rendezvous, else ~/.local/state/tavoro-rendezvous, else ./tavoro-rendezvous-state.
std::filesystem::path defaultStateDir();

} // namespace tavoro::server
