#pragma once

#include "app/remote_controller.h"

#include <CLI/CLI.hpp>

#include <optional>
#include <string>

namespace tavoro::app {

// The deployment options every installation program takes, as written on the command line or in the
// environment (TAVORO_SERVER, TAVORO_TOKEN, TAVORO_SERVER_CERT_SHA256, TAVORO_CONFIG_DIR).
struct InstallationOptions {
    std::string server = "127.0.0.1";
    std::optional<std::string> configDir;
    std::string token = "qxm";
    std::string serverCertSha256;
};

void addInstallationOptions(CLI::App& app, InstallationOptions& options);

// Checks what the parser cannot: a well-formed server address and fingerprint. On success fills the
// deployment and the normalised pin and returns an empty string; otherwise returns a one-line error.
std::string resolveInstallation(const InstallationOptions& options, Deployment& deployment, std::string& pin);

} // namespace tavoro::app
