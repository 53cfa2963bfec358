#include "ui/main/status_band.h"

#include "ui/logic/main_window_texts.h"
#include "ui/main/widgets.h"

#include <QHBoxLayout>

namespace tavoro::ui {

StatusBand::StatusBand(app::RemoteController& controller, QWidget* parent) : QWidget(parent), controller_(controller)
{
    signaling_ = namedLabel("signalingStatus");
    control_ = namedLabel("controlStatus");
    host_ = namedLabel("hostStatus");
    status_ = namedLabel("status");
    auto* row = new QHBoxLayout(this);
    row->setSpacing(14);
    row->addWidget(new QLabel(qs(text::versionText(signaling::Signaling::kVersion))));
    for (auto* label : {signaling_, control_, host_}) {
        row->addWidget(label);
    }
    status_->setStyleSheet("color: #37474f; border-left: 1px solid #b0bec5; padding-left: 14px;");
    // A long status line gives way; the window never squeezes the cards or the band's other parts for it.
    status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    row->addWidget(status_, 1);

    auto sessions = [this](const auto&) { showSessions(); };
    followers_.follow(controller_.online, sessions);
    followers_.follow(controller_.control, sessions);
    followers_.follow(controller_.host, sessions);
    followers_.follow(controller_.hostPeerName, sessions);
    followers_.follow(controller_.status, [this](const std::string& status) { status_->setText(qs(status)); });
}

void StatusBand::showSessions()
{
    const bool online = controller_.online.get();
    signaling_->setText(qs(text::signalingStatus(online)));
    signaling_->setStyleSheet(QString("color: %1;").arg(online ? kSuccessColour : kWarningColour));
    control_->setText(qs(text::controlStatus(controller_.control.get() != nullptr)));
    std::optional<std::string> hostPeer;
    if (controller_.host.get()) {
        hostPeer = controller_.hostPeerName.get();
    }
    host_->setText(qs(text::hostStatus(hostPeer)));
}

} // namespace tavoro::ui
