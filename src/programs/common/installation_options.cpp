#include "programs/common/installation_options.h"

#include "signaling/ws_url.h"
#include "tls/certificate.h"
#include "transport/stun_servers.h"

#include <iostream>

namespace tavoro::app {

void addInstallationOptions(CLI::App& app, InstallationOptions& options)
{
    app.add_option("--server", options.server, "rendezvous server, HOST[:PORT] (port 8443 when absent)")
        ->envname("TAVORO_SERVER")
        ->capture_default_str();
    app.add_option("--config-dir", options.configDir, "folder of this installation's settings")
        ->envname("TAVORO_CONFIG_DIR");
    app.add_option("--token", options.token, "application access token")->envname("TAVORO_TOKEN")->capture_default_str();
    app.add_option("--server-cert-sha256", options.serverCertSha256,
           "accept only the server certificate with this SHA-256 fingerprint (hex)")
        ->envname("TAVORO_SERVER_CERT_SHA256");
    app.add_option("--stun", options.stun, "STUN server HOST:PORT, repeatable (replaces TAVORO_STUN and the default table)");
}

Result<ResolvedInstallation> resolveInstallation(const InstallationOptions& options, const char* stunEnvironment)
{
    ResolvedInstallation resolved;
    auto& deployment = resolved.deployment;
    deployment.serverUrl = serverUrlFor(options.server);
    if (deployment.serverUrl.empty()) {
        return Failure{"invalid server address: " + options.server};
    }
    auto stun = transport::chooseStunServers(options.stun, stunEnvironment, signaling::parseWsUrl(deployment.serverUrl)->host);
    if (!stun.invalidEntry.empty()) {
        return Failure{"invalid STUN server (HOST:PORT expected): " + stun.invalidEntry};
    }
    deployment.stunServers = std::move(stun.servers);
    deployment.token = options.token;
    if (!options.serverCertSha256.empty()) {
        auto normalised = tls::normaliseFingerprint(options.serverCertSha256);
        if (!normalised) {
            return Failure{"invalid certificate fingerprint (64 hex digits expected): " + options.serverCertSha256};
        }
        resolved.pin = *normalised;
    }
    return resolved;
}

std::optional<int> parseCommandLine(CLI::App& app, int argc, char** argv)
{
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return 0;
    } catch (const CLI::CallForVersion&) {
        std::cout << app.version() << "\n";
        return 0;
    } catch (const CLI::ParseError& error) {
        std::cerr << app.get_name() << ": " << error.what() << "\n";
        return 2;
    }
    return std::nullopt;
}

} // namespace tavoro::app
