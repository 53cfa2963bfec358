#include "programs/tavoro/desktop_application.h"

#include <QApplication>
#include <QFont>

#include <chrono>

namespace tavoro::app {
namespace {

constexpr std::chrono::seconds kShutdownGrace{2};

} // namespace

DesktopApplication::DesktopApplication(const DesktopSetup& setup)
    : services_(setup.configDir), controller_(RemoteController::create(services_.services(setup.pin), setup.deployment)),
      fileWindows_(std::make_unique<ui::FileWindowHost>(*controller_, services_.folders.home().string())),
      chatWindow_(std::make_unique<ui::ChatWindowHost>(*controller_)),
      sessionWindows_(std::make_unique<ui::SessionWindowManager>(controller_, services_.mainScheduler, services_.settings,
          ui::SessionActions{[this](const auto&) { openFiles(); }, [this](const auto&) { openChat(); }})),
      sessionWindowFollowsControl_(controller_->control.subscribe(
          [this](const std::shared_ptr<control::ControlSession>& session) { sessionWindows_->update(session); })),
      mainWindow_(std::make_unique<ui::MainWindow>(*controller_, &services_.hosting.permissions()))
{
    QApplication::setFont(QFont("Noto Sans CJK SC"));
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, mainWindow_.get(),
        [controller = controller_] {
            if (controller->hosting()) {
                controller->endHost(); // every controller is told, as when the user ends hosting
            }
            controller->signaling().shutdown(kShutdownGrace);
        });
    mainWindow_->setOpenChat([this] { openChat(); });
}

void DesktopApplication::show() { mainWindow_->show(); }

} // namespace tavoro::app
