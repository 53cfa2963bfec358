#pragma once

// Driving the desktop application in this process, as a person would, against a real tavoro-host and
// tavoro-rendezvous (HostingSetup): for the desktop tests and benchmarks. GUI thread only.
#include "platform/qt/video_surface.h"
#include "programs/common/installation_options.h"
#include "programs/tavoro/desktop_application.h"
#include "support/hosting_fixture.h"
#include "support/temp_dir.h"
#include "unit/qt/run_events.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <string>

namespace tavoro::test {

// The desktop application's setup for the hosting setup's server, with its settings in `config`.
inline app::DesktopSetup desktopSetupFor(const HostingSetup& hosting, const TempDir& config)
{
    app::InstallationOptions options;
    options.server = "127.0.0.1:" + std::to_string(hosting.server.wss);
    options.serverCertSha256 = hosting.server.fingerprint;
    options.stun = {"127.0.0.1:" + std::to_string(hosting.server.stun)};
    app::DesktopSetup setup{config.path().string(), {}, {}};
    if (auto installation = app::resolveInstallation(options, nullptr)) {
        setup.deployment = installation->deployment;
        setup.pin = installation->pin;
    } else {
        setup.deployment.serverUrl.clear();
    }
    return setup;
}

// The visible session window, if one is open.
inline QWidget* openSessionWindow()
{
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && window->windowTitle().startsWith(QString::fromUtf8("Tavoro — "))) {
            return window;
        }
    }
    return nullptr;
}

// Types the ID and password into the main window's "连接到远程" card and presses "连 接"; the session
// window that opens, or null when none opened within the limit.
inline QWidget* callFromMainWindow(app::DesktopApplication& desktop, const std::string& id, const std::string& password,
    std::chrono::milliseconds limit = std::chrono::seconds(15))
{
    auto& window = desktop.mainWindow();
    QTest::keyClicks(window.findChild<QLineEdit*>("peer"), QString::fromStdString(id));
    QTest::keyClicks(window.findChild<QLineEdit*>("password"), QString::fromStdString(password));
    window.findChild<QPushButton*>("connect")->click();
    runEventsUntil([] { return openSessionWindow() != nullptr; }, limit);
    return openSessionWindow();
}

} // namespace tavoro::test
