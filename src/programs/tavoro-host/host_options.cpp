#include "programs/tavoro-host/host_options.h"

#include "app/identity.h"

#include <map>

namespace tavoro::app {

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
    app.add_flag("--no-files", options.noFiles,
        "serve no file requests: controllers can neither browse nor transfer this computer's files");
}

Result<> checkHostingOptions(const HostingOptions& options)
{
    if (options.password && options.passwordMode && *options.passwordMode != "fixed") {
        return Failure{"--password needs --password-mode fixed"};
    }
    if (options.password && trimSpacesAndTabs(*options.password).empty()) {
        return Failure{"--password must not be empty"};
    }
    return {};
}

void applyHostingServices(const HostingOptions& options, Services& services)
{
    services.fileService = !options.noFiles;
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

} // namespace tavoro::app
