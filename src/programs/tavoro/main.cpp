// tavoro: the desktop application. It shows the main window, from which the user reads this
// computer's ID and password and calls other installations, and a window for the running session.
#include "app/remote_controller.h"
#include "core/log.h"
#include "programs/common/installation_options.h"
#include "programs/tavoro/desktop_services.h"
#include "ui/main_window.h"
#include "ui/session/session_window_manager.h"

#include <QApplication>
#include <QFont>

#include <cstdlib>
#include <iostream>

namespace {

using namespace tavoro;

constexpr std::chrono::seconds kShutdownGrace{2};

int runDesktop(int argc, char** argv, const app::InstallationOptions& options)
{
    app::Deployment deployment;
    std::string pin;
    if (auto error = app::resolveInstallation(options, std::getenv("TAVORO_STUN"), deployment, pin); !error.empty()) {
        std::cerr << "tavoro: " << error << "\n";
        return 2;
    }
    log::setup("tavoro", true);

    QApplication application(argc, argv);
    QApplication::setFont(QFont("Noto Sans CJK SC"));
    app::DesktopServices desktop(options.configDir);
    auto controller = app::RemoteController::create(desktop.services(pin), deployment);
    QObject::connect(&application, &QCoreApplication::aboutToQuit,
        [&controller] { controller->signaling().shutdown(kShutdownGrace); });

    ui::SessionWindowManager sessionWindows(controller, desktop.mainScheduler, desktop.settings);
    auto sessionWindowFollowsControl = controller->control.subscribe(
        [&sessionWindows](const std::shared_ptr<control::ControlSession>& session) { sessionWindows.update(session); });

    ui::MainWindow window(*controller);
    window.show();
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
