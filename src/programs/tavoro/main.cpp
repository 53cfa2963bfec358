// tavoro: the desktop application. It shows the main window, from which the user reads this
// computer's ID and password and calls other installations, with a window for the running session;
// callers admitted by ID and password view or control this computer's X display.
#include "core/log.h"
#include "programs/common/installation_options.h"
#include "programs/tavoro/desktop_application.h"

#include <QApplication>

#include <cstdlib>
#include <iostream>

namespace {

using namespace tavoro;

int runDesktop(int argc, char** argv, const app::InstallationOptions& options)
{
    auto installation = app::resolveInstallation(options, std::getenv("TAVORO_STUN"));
    if (!installation) {
        std::cerr << "tavoro: " << installation.error() << "\n";
        return 2;
    }
    log::setup("tavoro", true);

    app::DesktopSetup setup{options.configDir, installation->deployment, installation->pin};
    QApplication application(argc, argv);
    app::DesktopApplication desktop(setup);
    desktop.show();
    return application.exec();
}

} // namespace

int main(int argc, char** argv)
{
    CLI::App cli("Tavoro: remote desktop.", "tavoro");
    cli.set_version_flag("--version", std::string("tavoro ") + tavoro::signaling::Signaling::kVersion);
    tavoro::app::InstallationOptions options;
    tavoro::app::addInstallationOptions(cli, options);
    if (auto exit = tavoro::app::parseCommandLine(cli, argc, argv)) {
        return *exit;
    }
    return runDesktop(argc, argv, options);
}
