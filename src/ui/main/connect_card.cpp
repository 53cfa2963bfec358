#include "ui/main/connect_card.h"

#include "ui/logic/main_window_texts.h"
#include "ui/main/widgets.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenu>
#include <QToolButton>

namespace tavoro::ui {

ConnectCard::ConnectCard(app::RemoteController& controller, QWidget* parent)
    : QGroupBox(qs("连接到远程"), parent), controller_(controller)
{
    auto* layout = new QFormLayout(this);

    peerField_ = new QLineEdit;
    peerField_->setObjectName("peer");
    peerField_->setPlaceholderText(qs("9 位 ID 或 11 位手机号"));
    auto* peerRow = new QHBoxLayout;
    peerRow->addWidget(peerField_, 1);
    peerRow->addWidget(makeHistoryButton());
    layout->addRow(qs("伙伴 ID"), peerRow);

    passwordField_ = new QLineEdit;
    passwordField_->setObjectName("password");
    passwordField_->setPlaceholderText(qs("密码 / 验证码"));
    passwordField_->setEchoMode(QLineEdit::Password);
    sms_ = namedButton(text::smsButtonText(0), "sendSms");
    connect(sms_, &QPushButton::clicked, this, [this] { controller_.requestSmsCode(peer()); });
    auto* passwordRow = new QHBoxLayout;
    passwordRow->addWidget(passwordField_, 1);
    passwordRow->addWidget(sms_);
    layout->addRow(qs("密码"), passwordRow);

    modeChoice_ = new QComboBox;
    modeChoice_->setObjectName("mode");
    modeChoice_->addItem(qs("远程控制"), "control");
    modeChoice_->addItem(qs("仅查看"), "view");
    modeChoice_->addItem(qs("文件传输"), "file");
    layout->addRow(qs("模式"), modeChoice_);

    auto* connectButton = namedButton("连 接", "connect");
    connectButton->setDefault(true);
    connect(connectButton, &QPushButton::clicked, this, [this] { placeCall(); });
    connect(peerField_, &QLineEdit::returnPressed, this, [this] { placeCall(); });
    connect(passwordField_, &QLineEdit::returnPressed, this, [this] { placeCall(); });
    layout->addRow(connectButton);

    followers_.follow(controller_.recentPeers, [this](const auto& peers) { showHistory(peers); });
    followers_.follow(controller_.smsCooldown, [this](int seconds) { showSmsCooldown(seconds); });
}

QToolButton* ConnectCard::makeHistoryButton()
{
    history_ = new QToolButton;
    history_->setObjectName("history");
    history_->setText(qs("🕘"));
    history_->setToolTip(qs("最近连接"));
    history_->setPopupMode(QToolButton::InstantPopup);
    historyMenu_ = new QMenu(history_);
    historyMenu_->setObjectName("historyMenu");
    history_->setMenu(historyMenu_);
    return history_;
}

void ConnectCard::showHistory(const std::vector<std::string>& peers)
{
    historyMenu_->clear();
    for (const auto& entry : peers) {
        historyMenu_->addAction(qs(entry), this, [this, entry] { peerField_->setText(qs(entry)); });
    }
    history_->setEnabled(!peers.empty());
}

void ConnectCard::showSmsCooldown(int seconds)
{
    sms_->setText(qs(text::smsButtonText(seconds)));
    sms_->setEnabled(seconds <= 0);
}

std::string ConnectCard::peer() const { return peerField_->text().trimmed().toStdString(); }

void ConnectCard::placeCall()
{
    controller_.connectToPeer(
        peer(), passwordField_->text().toStdString(), modeChoice_->currentData().toString().toStdString());
}

} // namespace tavoro::ui
