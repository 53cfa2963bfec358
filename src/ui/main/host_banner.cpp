#include "ui/main/host_banner.h"

#include "ui/logic/main_window_texts.h"
#include "ui/main/widgets.h"

#include <QHBoxLayout>

namespace tavoro::ui {

HostBanner::HostBanner(app::RemoteController& controller, QWidget* parent) : QWidget(parent), controller_(controller)
{
    setObjectName("hostBanner");
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet("#hostBanner { background: #e3f2fd; border-radius: 6px; }");
    peer_ = namedLabel("hostPeer");
    peer_->setStyleSheet("font-weight: bold;");
    auto* end = namedButton("断开连接", "endHost");
    end->setStyleSheet(QString("color: white; background: %1; padding: 4px 12px;").arg(kErrorColour));
    connect(end, &QPushButton::clicked, this, [this] { controller_.endHost(); });

    auto* row = new QHBoxLayout(this);
    row->addWidget(new QLabel(qs("📡 " + text::kHostBanner)));
    row->addWidget(peer_);
    row->addStretch(1);
    row->addWidget(end);

    followers_.follow(controller_.host, [this](const auto&) { showHost(); });
    followers_.follow(controller_.hostPeerName, [this](const std::string&) { showHost(); });
}

void HostBanner::showHost()
{
    peer_->setText(qs(controller_.hostPeerName.get()));
    setVisible(controller_.host.get() != nullptr);
}

} // namespace tavoro::ui
