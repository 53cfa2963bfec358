#include "ui/main_window.h"

#include "ui/logic/main_window_texts.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace tavoro::ui {
namespace {

QString qs(const std::string& text) { return QString::fromStdString(text); }

QLabel* largeLabel(const QString& objectName)
{
    auto* label = new QLabel;
    label->setObjectName(objectName);
    QFont font = label->font();
    font.setPointSize(font.pointSize() * 2);
    font.setBold(true);
    label->setFont(font);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QPushButton* button(const char* text, const QString& objectName)
{
    auto* pushButton = new QPushButton(QString::fromUtf8(text));
    pushButton->setObjectName(objectName);
    return pushButton;
}

} // namespace

MainWindow::MainWindow(app::RemoteController& controller, QWidget* parent) : QWidget(parent), controller_(controller)
{
    setWindowTitle("Tavoro");
    auto* column = new QVBoxLayout(this);
    auto* cards = new QHBoxLayout;
    cards->addWidget(makeDeviceCard());
    cards->addWidget(makeConnectCard());
    column->addLayout(cards);
    column->addWidget(makeStatusBand());
    subscribe();
    statusLabel_->setText(qs(controller_.status.get()));
    showIdentity();
    showSessions();
}

void MainWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!std::exchange(started_, true)) {
        controller_.start();
    }
}

QWidget* MainWindow::makeDeviceCard()
{
    auto* card = new QGroupBox(QString::fromUtf8("您的设备"));
    auto* layout = new QFormLayout(card);

    idLabel_ = largeLabel("deviceId");
    auto* copy = button("复制", "copyId");
    connect(copy, &QPushButton::clicked, this, [this] { controller_.copyId(); });
    auto* idRow = new QHBoxLayout;
    idRow->addWidget(idLabel_, 1);
    idRow->addWidget(copy);
    layout->addRow(QString::fromUtf8("ID"), idRow);

    passwordLabel_ = largeLabel("tempPassword");
    auto* refresh = button("刷新", "refreshPassword");
    connect(refresh, &QPushButton::clicked, this, [this] { controller_.refreshPassword(); });
    auto* passwordRow = new QHBoxLayout;
    passwordRow->addWidget(passwordLabel_, 1);
    passwordRow->addWidget(refresh);
    layout->addRow(QString::fromUtf8("密码"), passwordRow);
    return card;
}

QWidget* MainWindow::makeConnectCard()
{
    auto* card = new QGroupBox(QString::fromUtf8("连接到远程"));
    auto* layout = new QFormLayout(card);

    peerField_ = new QLineEdit;
    peerField_->setObjectName("peer");
    peerField_->setPlaceholderText(QString::fromUtf8("9 位 ID 或 11 位手机号"));
    layout->addRow(QString::fromUtf8("伙伴 ID"), peerField_);

    passwordField_ = new QLineEdit;
    passwordField_->setObjectName("password");
    passwordField_->setPlaceholderText(QString::fromUtf8("密码 / 验证码"));
    passwordField_->setEchoMode(QLineEdit::Password);
    layout->addRow(QString::fromUtf8("密码"), passwordField_);

    modeChoice_ = new QComboBox;
    modeChoice_->setObjectName("mode");
    modeChoice_->addItem(QString::fromUtf8("远程控制"), "control");
    modeChoice_->addItem(QString::fromUtf8("仅查看"), "view");
    modeChoice_->addItem(QString::fromUtf8("文件传输"), "file");
    layout->addRow(QString::fromUtf8("模式"), modeChoice_);

    auto* connectButton = button("连 接", "connect");
    connectButton->setDefault(true);
    connect(connectButton, &QPushButton::clicked, this, [this] { placeCall(); });
    connect(peerField_, &QLineEdit::returnPressed, this, [this] { placeCall(); });
    connect(passwordField_, &QLineEdit::returnPressed, this, [this] { placeCall(); });
    layout->addRow(connectButton);
    return card;
}

QWidget* MainWindow::makeStatusBand()
{
    auto* band = new QWidget;
    auto* row = new QHBoxLayout(band);
    row->addWidget(new QLabel(qs(text::versionText(signaling::Signaling::kVersion))));
    signalingLabel_ = new QLabel;
    controlLabel_ = new QLabel;
    hostLabel_ = new QLabel;
    statusLabel_ = new QLabel;
    statusLabel_->setObjectName("status");
    for (auto* label : {signalingLabel_, controlLabel_, hostLabel_}) {
        row->addWidget(label);
    }
    row->addWidget(statusLabel_, 1);
    return band;
}

void MainWindow::subscribe()
{
    auto identity = [this](const std::string&) { showIdentity(); };
    textSubscriptions_.push_back(controller_.deviceId.subscribe(identity));
    textSubscriptions_.push_back(controller_.tempPassword.subscribe(identity));
    textSubscriptions_.push_back(
        controller_.status.subscribe([this](const std::string& status) { statusLabel_->setText(qs(status)); }));
    textSubscriptions_.push_back(controller_.hostPeerName.subscribe([this](const std::string&) { showSessions(); }));
    onlineSubscription_ = controller_.online.subscribe([this](bool) { showSessions(); });
    controlSubscription_ = controller_.control.subscribe([this](const auto&) { showSessions(); });
    hostSubscription_ = controller_.host.subscribe([this](const auto&) { showSessions(); });
}

void MainWindow::showIdentity()
{
    idLabel_->setText(qs(controller_.formattedId()));
    passwordLabel_->setText(qs(controller_.tempPassword.get()));
}

void MainWindow::showSessions()
{
    const bool online = controller_.online.get();
    signalingLabel_->setText(qs(text::signalingStatus(online)));
    signalingLabel_->setStyleSheet(online ? "color: #2e7d32;" : "color: #ef6c00;");
    controlLabel_->setText(qs(text::controlStatus(controller_.control.get() != nullptr)));
    std::optional<std::string> hostPeer;
    if (controller_.host.get()) {
        hostPeer = controller_.hostPeerName.get();
    }
    hostLabel_->setText(qs(text::hostStatus(hostPeer)));
}

void MainWindow::placeCall()
{
    controller_.connectToPeer(peerField_->text().trimmed().toStdString(), passwordField_->text().toStdString(),
        modeChoice_->currentData().toString().toStdString());
}

} // namespace tavoro::ui
