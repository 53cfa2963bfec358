#pragma once

#include "app/remote_controller.h"
#include "core/result.h"

#include <CLI/CLI.hpp>

#include <optional>
#include <string>
#include <vector>

namespace tavoro::app {

// The deployment options every installation program takes, as written on the command line or in the
// environment (TAVORO_SERVER, TAVORO_TOKEN, TAVORO_SERVER_CERT_SHA256, TAVORO_CONFIG_DIR, TAVORO_STUN).
struct InstallationOptions {
    std::string server = "127.0.0.1";
    std::optional<std::string> configDir;
    std::string token = "qxm";
    std::string serverCertSha256;
    std::vector<std::string> stun; // HOST:PORT entries; they replace TAVORO_STUN and the default table
};

void addInstallationOptions(CLI::App& app, InstallationOptions& options);

// Where the installation connects and which server certificate it trusts.
struct ResolvedInstallation {
    Deployment deployment;
    std::string pin; // the normalised SHA-256 fingerprint, or empty for the system's trust
};

// Checks what the parser cannot: a well-formed server address, fingerprint and STUN entries (the
// --stun options, else stunEnvironment, the value of TAVORO_STUN, which may be null). The failure is a
// one-line error.
Result<ResolvedInstallation> resolveInstallation(const InstallationOptions& options, const char* stunEnvironment);

// Parses the command line. Nothing when the program goes on; otherwise its exit code, after printing
// the help or the version (0) or a one-line error on stderr (2).
std::optional<int> parseCommandLine(CLI::App& app, int argc, char** argv);

} // namespace tavoro::app
