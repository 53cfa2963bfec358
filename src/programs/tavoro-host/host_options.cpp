#include "programs/tavoro-host/host_options.h"

#include "app/identity.h"
#include "signaling/ws_url.h"
#include "tls/certificate.h"
#include "transport/stun_servers.h"

#include <map>

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

namespace {

const std::map<std::string, int> kPermissions{{"deny", 0}, {"view", 1}, {"control", 2}};
const std::map<std::string, int> kPasswordModes{{"fixed", 0}, {"one-time", 1}, {"sms", 2}};

} // namespace

void addHostingOptions(CLI::App& app, HostingOptions& options)
{
    app.add_option("--permission", options.permission, "what callers may do: deny, view or control (kept)")
        ->check(CLI::IsMember(kPermissions));
    app.add_option("--password-mode", options.passwordMode, "fixed, one-time or sms (kept)")
        ->check(CLI::IsMember(kPasswordModes));
    app.add_option("--password", options.password, "the fixed password (kept; implies --password-mode fixed)");
}

std::string checkHostingOptions(const HostingOptions& options)
{
    if (options.password && options.passwordMode && *options.passwordMode != "fixed") {
        return "--password needs --password-mode fixed";
    }
    if (options.password && trimSpacesAndTabs(*options.password).empty()) {
        return "--password must not be empty";
    }
    return {};
}

void applyHostingOptions(const HostingOptions& options, RemoteController& controller)
{
    if (options.permission) {
        controller.setPermission(kPermissions.at(*options.permission));
    }
    if (options.password) {
        controller.setPwMode(0);
        controller.setPassword(*options.password);
    } else if (options.passwordMode) {
        controller.setPwMode(kPasswordModes.at(*options.passwordMode));
    }
}

std::string resolveInstallation(const InstallationOptions& options, const char* stunEnvironment,
    Deployment& deployment, std::string& pin)
{
    deployment.serverUrl = serverUrlFor(options.server);
    if (deployment.serverUrl.empty()) {
        return "invalid server address: " + options.server;
    }
    auto stun = transport::chooseStunServers(options.stun, stunEnvironment, signaling::parseWsUrl(deployment.serverUrl)->host);
    if (!stun.invalidEntry.empty()) {
        return "invalid STUN server (HOST:PORT expected): " + stun.invalidEntry;
    }
    deployment.stunServers = std::move(stun.servers);
    deployment.token = options.token;
    pin.clear();
    if (!options.serverCertSha256.empty()) {
        auto normalised = tls::normaliseFingerprint(options.serverCertSha256);
        if (!normalised) {
            return "invalid certificate fingerprint (64 hex digits expected): " + options.serverCertSha256;
        }
        pin = *normalised;
    }
    return {};
}

} // namespace tavoro::app
