#pragma once

#include "app/remote_controller.h"
#include "core/result.h"
#include "programs/common/installation_options.h"

#include <CLI/CLI.hpp>

#include <optional>
#include <string>

namespace tavoro::app {

// What a headless host's user chooses on the command line; each one given is applied and kept in the
// settings as the main window's controls would.
struct HostingOptions {
    std::optional<std::string> permission;   // "deny", "view" or "control"
    std::optional<std::string> passwordMode; // "fixed", "one-time" or "sms"
    std::optional<std::string> password;     // the fixed password
    bool noFiles = false;                    // serve no file requests (not kept)
};

void addHostingOptions(CLI::App& app, HostingOptions& options);

// Fails with a one-line error when the choices do not fit together (a password for another mode than
// fixed, an empty password).
Result<> checkHostingOptions(const HostingOptions& options);

// Applies the choices that shape the controller before it is made (the file service).
void applyHostingServices(const HostingOptions& options, Services& services);

// Applies the choices to a started controller. Main thread.
void applyHostingOptions(const HostingOptions& options, RemoteController& controller);

} // namespace tavoro::app
