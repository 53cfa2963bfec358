// tavoro-rendezvous: parses the command line, loads or makes the TLS identity, opens every port,
// prints the chosen ports and the certificate fingerprint one per line on stdout, and serves until
// SIGTERM (or SIGINT, SIGHUP).
#include "core/log.h"
#include "core/result.h"
#include "programs/tavoro-rendezvous/server_options.h"
#include "server/file_sms_gateway.h"
#include "server/rendezvous_server.h"
#include "tls/certificate.h"

#include <csignal>
#include <iostream>
#include <sys/stat.h>

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

Result<> makeStateDir(const std::filesystem::path& dir)
{
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        return Failure{"cannot create " + dir.string() + ": " + ec.message()};
    }
    ::chmod(dir.c_str(), 0700);
    return {};
}

// The identity from --cert/--key, else the one kept in the state folder (made on first start).
Result<tls::PemIdentity> loadIdentity(const server::ServerOptions& options)
{
    if (options.certFile.empty()) {
        return tls::loadOrCreate(options.stateDir / "cert.pem", options.stateDir / "key.pem", "tavoro-rendezvous");
    }
    return tls::loadFromFiles(options.certFile, options.keyFile);
}

server::ServerConfig configFrom(const server::ServerOptions& options, tls::PemIdentity identity)
{
    server::ServerConfig config;
    config.listenAddress = options.listenAddress;
    config.listenPort = options.listenPort;
    config.relayPort = options.relayPort;
    config.stunPort = options.stunPort;
    config.publicHost = options.publicHost;
    config.accessToken = options.token;
    config.identity = std::move(identity);
    config.relayRateMbit = options.relayRateMbit;
    config.relaysPerDevice = options.relaysPerDevice;
    config.relaysPerAddress = options.relaysPerAddress;
    config.callRate = server::RateLimit{options.callBurst, options.callRate};
    config.standingRelayTokens = options.relayTokens;
    config.stateDir = options.stateDir;
    config.maxPerAddress = options.maxPerAddress;
    config.redis = options.redis;
    config.clusterLease = options.clusterLease;
    config.clusterRenewal = options.clusterRenewal;
    config.threads = options.threads;
    return config;
}

int fail(const std::string& error)
{
    std::cerr << "tavoro-rendezvous: " << error << std::endl;
    return 1;
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

    if (auto stateDir = makeStateDir(options.stateDir); !stateDir) {
        return fail(stateDir.error());
    }
    auto identity = loadIdentity(options);
    if (!identity) {
        return fail(identity.error());
    }
    server::FileSmsGateway sms(options.stateDir / "sms.txt");
    server::RendezvousServer rendezvous(configFrom(options, std::move(*identity)), sms);
    if (auto started = rendezvous.start(); !started) {
        return fail(started.error());
    }
    std::cout << "listening wss " << rendezvous.wssPort() << "\n"
              << "listening relay " << rendezvous.relayPort() << "\n"
              << "listening stun " << rendezvous.stunPort() << "\n"
              << "cert sha256 " << rendezvous.fingerprint() << std::endl;
    log::info("Tavoro rendezvous: ready; SMS codes go to " + (options.stateDir / "sms.txt").string());

    int signal = 0;
    sigwait(&signals, &signal);
    log::info("Tavoro rendezvous: signal " + std::to_string(signal) + ", closing every connection");
    rendezvous.stop();
    log::info("Tavoro rendezvous: stopped");
    return 0;
}
