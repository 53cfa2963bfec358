#include "ui/main_window.h"

#include "ui/main/about_box.h"
#include "ui/main/banner.h"
#include "ui/main/connect_card.h"
#include "ui/main/device_card.h"
#include "ui/main/host_banner.h"
#include "ui/main/permission_banner.h"
#include "ui/main/status_band.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QVBoxLayout>

namespace tavoro::ui {
namespace {

// Room for the large ID and password, the longest password-mode label and the whole status band.
constexpr QSize kComfortableSize{820, 520};

} // namespace

MainWindow::MainWindow(app::RemoteController& controller, platform::Permissions* permissions, QWidget* parent)
    : QWidget(parent), controller_(controller)
{
    setWindowTitle("Tavoro");
    auto* column = new QVBoxLayout(this);
    banner_ = new Banner(controller_, {.openChat = {}, .showAbout = [this] { showAbout(); }}, this);
    column->addWidget(banner_);
    column->addWidget(new HostBanner(controller_, this));
    if (permissions) {
        permissionBanner_ = new PermissionBanner(*permissions, this);
        column->addWidget(permissionBanner_);
    }
    auto* cards = new QHBoxLayout;
    cards->addWidget(new DeviceCard(controller_, this));
    cards->addWidget(new ConnectCard(controller_, this));
    column->addLayout(cards, 1);
    column->addWidget(new StatusBand(controller_, this));
    resize(sizeHint().expandedTo(kComfortableSize));
}

void MainWindow::setOpenChat(std::function<void()> openChat) { banner_->setOpenChat(std::move(openChat)); }

void MainWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (permissionBanner_) {
        permissionBanner_->recheck();
    }
    if (!std::exchange(started_, true)) {
        controller_.start();
    }
}

void MainWindow::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && permissionBanner_) {
        permissionBanner_->recheck();
    }
}

void MainWindow::showAbout()
{
    if (!about_) {
        about_ = new AboutBox(this);
    }
    about_->show();
    about_->raise();
}

} // namespace tavoro::ui
