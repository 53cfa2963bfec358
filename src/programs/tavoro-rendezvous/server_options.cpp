#include "programs/tavoro-rendezvous/server_options.h"

#include "core/result.h"

#include <CLI/CLI.hpp>

#include <arpa/inet.h>
#include <cstdlib>
#include <ostream>

#ifndef TAVORO_VERSION
#define TAVORO_VERSION "0"
#endif

namespace tavoro::server {
namespace {

bool isNumericAddress(const std::string& text)
{
    unsigned char raw[16];
    return ::inet_pton(AF_INET, text.c_str(), raw) == 1 || ::inet_pton(AF_INET6, text.c_str(), raw) == 1;
}

// "ADDR:PORT" or "[IPv6]:PORT" into its parts; a failure saying what is wrong.
Result<> splitListen(const std::string& text, ServerOptions& options)
{
    const auto colon = text.rfind(':');
    if (colon == std::string::npos) {
        return Failure{"--listen needs ADDR:PORT"};
    }
    std::string address = text.substr(0, colon);
    if (address.size() >= 2 && address.front() == '[' && address.back() == ']') {
        address = address.substr(1, address.size() - 2);
    }
    if (!isNumericAddress(address)) {
        return Failure{"--listen: not a numeric IP address: " + address};
    }
    const std::string port = text.substr(colon + 1);
    char* end = nullptr;
    const long value = std::strtol(port.c_str(), &end, 10);
    if (port.empty() || *end != '\0' || value < 0 || value > 65535) {
        return Failure{"--listen: not a port: " + port};
    }
    options.listenAddress = address;
    options.listenPort = static_cast<std::uint16_t>(value);
    return {};
}

} // namespace

std::filesystem::path defaultStateDir()
{
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state) {
        return std::filesystem::path(state) / "tavoro-rendezvous";
    }
    if (const char* home = std::getenv("HOME"); home && *home) {
        return std::filesystem::path(home) / ".local" / "state" / "tavoro-rendezvous";
    }
    return "tavoro-rendezvous-state";
}

ParsedOptions parseOptions(int argc, const char* const* argv, std::ostream& out, std::ostream& err)
{
    ServerOptions options;
    std::string listen = "0.0.0.0:8443";
    std::string stateDir;
    std::string certFile;
    std::string keyFile;
    std::string redisUrl;

    CLI::App app("tavoro-rendezvous: the Tavoro rendezvous server (TLS WebSocket signaling on /ws, "
                 "phone aliases and SMS codes, the UDP relay and a STUN responder)",
        "tavoro-rendezvous");
    app.set_version_flag("--version", std::string("tavoro-rendezvous ") + TAVORO_VERSION);
    app.add_option("--listen", listen, "address and port of the TLS WebSocket endpoint (port 0: any free port)")
        ->capture_default_str();
    app.add_option("--relay-port", options.relayPort, "UDP relay port (0: any free port)")->capture_default_str();
    app.add_option("--stun-port", options.stunPort, "STUN responder port (0: any free port)")->capture_default_str();
    app.add_option("--public-host", options.publicHost,
        "relay host given to callers (default: the address their connection came in on)");
    app.add_option("--state-dir", stateDir, "folder for the certificate, key, SMS file and device key store (default: "
            + defaultStateDir().string() + ")");
    app.add_option("--token", options.token, "application access token that \"hello\" must carry")
        ->capture_default_str();
    auto* cert = app.add_option("--cert", certFile, "PEM certificate file (with --key)")->check(CLI::ExistingFile);
    auto* key = app.add_option("--key", keyFile, "PEM private key file (with --cert)")->check(CLI::ExistingFile);
    cert->needs(key);
    key->needs(cert);
    app.add_option("--relay-rate-mbit", options.relayRateMbit, "rate cap of each relay session in Mbit/s")
        ->capture_default_str()
        ->check(CLI::PositiveNumber);
    app.add_option("--relays-per-device", options.relaysPerDevice, "live relay sessions one calling device may hold")
        ->capture_default_str()
        ->check(CLI::PositiveNumber);
    app.add_option("--relays-per-address", options.relaysPerAddress,
        "live relay sessions the calling devices of one source address may hold")
        ->capture_default_str()
        ->check(CLI::PositiveNumber);
    app.add_option("--call-rate", options.callRate, "calls a second each connection and each source address may place")
        ->capture_default_str()
        ->check(CLI::PositiveNumber);
    app.add_option("--call-burst", options.callBurst, "calls each connection and each source address may place at once")
        ->capture_default_str()
        ->check(CLI::PositiveNumber);
    app.add_option("--max-per-address", options.maxPerAddress,
        "connections one source address may hold at once (further ones are closed right after accept)")
        ->capture_default_str()
        ->check(CLI::PositiveNumber);
    app.add_option("--threads", options.threads,
           "threads serving the TLS WebSocket connections (default: one per core); the routing itself runs "
           "on one of them")
        ->capture_default_str()
        ->check(CLI::PositiveNumber);
    app.add_option("--relay-token", options.relayTokens,
        "a standing relay session for this token (repeatable; for fixed set-ups and tests)");
    // Never echoed: the URL may hold the Redis password.
    app.add_option("--redis", redisUrl,
           "redis://[[user]:password@]host[:port][/db] shared by a cluster of rendezvous servers "
           "(default: none, a single server)")
        ->envname("TAVORO_REDIS");
    std::int64_t leaseMs = options.clusterLease.count();
    std::int64_t renewalMs = options.clusterRenewal.count();
    app.add_option("--cluster-lease-ms", leaseMs, "how long a device ID stays held without renewal")
        ->check(CLI::PositiveNumber)
        ->group("");
    app.add_option("--cluster-renewal-ms", renewalMs, "how often a node renews the device IDs it holds")
        ->check(CLI::PositiveNumber)
        ->group("");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return ParsedOptions{std::nullopt, app.exit(e, out, err)};
    }
    if (auto split = splitListen(listen, options); !split) {
        err << split.error() << "\n";
        return ParsedOptions{std::nullopt, 2};
    }
    for (const auto& token : options.relayTokens) {
        if (token.empty() || token.size() > 80) {
            err << "--relay-token must have 1 to 80 bytes\n";
            return ParsedOptions{std::nullopt, 2};
        }
    }
    if (!redisUrl.empty()) {
        auto url = redis::parseRedisUrl(redisUrl);
        if (!url) {
            err << "--redis: " << url.error() << "\n";
            return ParsedOptions{std::nullopt, 2};
        }
        options.redis = std::move(*url);
    }
    if (renewalMs >= leaseMs) {
        err << "--cluster-renewal-ms must be shorter than --cluster-lease-ms\n";
        return ParsedOptions{std::nullopt, 2};
    }
    options.clusterLease = std::chrono::milliseconds(leaseMs);
    options.clusterRenewal = std::chrono::milliseconds(renewalMs);
    options.stateDir = stateDir.empty() ? defaultStateDir() : std::filesystem::path(stateDir);
    options.certFile = certFile;
    options.keyFile = keyFile;
    return ParsedOptions{std::move(options), 0};
}

} // namespace tavoro::server
