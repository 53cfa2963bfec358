#include "ui/main/banner.h"

#include "ui/logic/main_window_texts.h"
#include "ui/main/widgets.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace tavoro::ui {
namespace {

QLabel* mark()
{
    auto* label = new QLabel("T");
    label->setAlignment(Qt::AlignCenter);
    label->setFixedSize(32, 32);
    label->setStyleSheet("background: white; color: #1565c0; border-radius: 16px; font-weight: bold;");
    return label;
}

QLabel* title()
{
    auto* label = new QLabel("Tavoro");
    QFont font = label->font();
    font.setPointSize(font.pointSize() * 3 / 2);
    font.setBold(true);
    label->setFont(font);
    return label;
}

} // namespace

Banner::Banner(app::RemoteController& controller, Actions actions, QWidget* parent)
    : QWidget(parent), actions_(std::move(actions))
{
    setObjectName("banner");
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet("#banner { background: qlineargradient(x1:0, y1:0, x2:1, y2:0, stop:0 #1565c0, stop:1 #00897b); }"
                  "#banner QLabel { color: white; }");
    badge_ = namedLabel("badge");
    chat_ = namedButton("💬 消息", "chat");
    auto* about = namedButton("关于", "about");
    auto* minimise = namedButton("—", "minimise");
    minimise->setToolTip(qs("最小化"));

    auto* row = new QHBoxLayout(this);
    row->addWidget(mark());
    row->addWidget(title());
    row->addWidget(badge_);
    row->addStretch(1);
    for (auto* button : {chat_, about, minimise}) {
        row->addWidget(button);
    }

    connect(chat_, &QPushButton::clicked, this, [this] {
        if (actions_.openChat) {
            actions_.openChat();
        }
    });
    connect(about, &QPushButton::clicked, this, [this] {
        if (actions_.showAbout) {
            actions_.showAbout();
        }
    });
    connect(minimise, &QPushButton::clicked, this, [this] { window()->showMinimized(); });

    followers_.follow(controller.online, [this](bool online) { showOnline(online); });
    followers_.follow(controller.chat().unread, [this](bool unread) { showUnread(unread); });
}

void Banner::showOnline(bool online)
{
    badge_->setText(qs(text::connectionBadge(online)));
    badge_->setStyleSheet(QString("#badge { background: %1; border-radius: 8px; padding: 2px 8px; }")
                              .arg(online ? kSuccessColour : kWarningColour));
}

void Banner::showUnread(bool unread)
{
    chat_->setProperty("unread", unread);
    chat_->setStyleSheet(unread ? QString("color: white; background: %1; font-weight: bold;").arg(kErrorColour)
                                : QString());
}

} // namespace tavoro::ui
