#include "ui/main/device_card.h"

#include "ui/logic/main_window_texts.h"
#include "ui/main/widgets.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace tavoro::ui {
namespace {

constexpr int kFixedPassword = 0;
constexpr int kSmsCode = 2;

// A row of radio buttons, one per label, numbered from 0 and named prefix + number.
QButtonGroup* choiceRow(const auto& labels, const QString& prefix, QHBoxLayout& row, QObject* owner)
{
    auto* group = new QButtonGroup(owner);
    int number = 0;
    for (const auto& label : labels) {
        auto* choice = new QRadioButton(qs(label));
        choice->setObjectName(prefix + QString::number(number));
        group->addButton(choice, number++);
        row.addWidget(choice);
    }
    row.addStretch(1);
    return group;
}

void check(QButtonGroup& group, int id)
{
    if (auto* button = group.button(id)) {
        button->setChecked(true);
    }
}

} // namespace

DeviceCard::DeviceCard(app::RemoteController& controller, QWidget* parent)
    : QGroupBox(qs("您的设备"), parent), controller_(controller)
{
    auto* column = new QVBoxLayout(this);
    column->addWidget(makeIdArea());
    column->addWidget(makePasswordArea());
    column->addWidget(makePermissionRow());
    column->addStretch(1);
    follow();
}

QWidget* DeviceCard::makeIdArea()
{
    auto* area = new QWidget;
    auto* column = new QVBoxLayout(area);
    column->setContentsMargins(0, 0, 0, 0);
    auto* modes = new QHBoxLayout;
    idModes_ = choiceRow(text::kIdModes, "idMode", *modes, this);
    connect(idModes_, &QButtonGroup::idClicked, this, [this](int mode) { controller_.setIdMode(mode); });
    column->addLayout(modes);

    id_ = largeLabel("deviceId");
    auto* copy = namedButton("复制", "copyId");
    connect(copy, &QPushButton::clicked, this, [this] { controller_.copyId(); });
    auto* idPage = new QWidget;
    auto* idRow = new QHBoxLayout(idPage);
    idRow->addWidget(id_, 1);
    idRow->addWidget(copy);

    phoneField_ = new QLineEdit;
    phoneField_->setObjectName("phone");
    phoneField_->setPlaceholderText(qs(text::kPhonePlaceholder));
    auto* bind = namedButton("绑定", "bindPhone");
    auto bindPhone = [this] { controller_.bindPhone(phoneField_->text().toStdString()); };
    connect(bind, &QPushButton::clicked, this, bindPhone);
    connect(phoneField_, &QLineEdit::returnPressed, this, bindPhone);
    phoneBound_ = namedLabel("phoneBound");
    auto* phonePage = new QWidget;
    auto* phoneColumn = new QVBoxLayout(phonePage);
    auto* phoneRow = new QHBoxLayout;
    phoneRow->addWidget(phoneField_, 1);
    phoneRow->addWidget(bind);
    phoneColumn->addLayout(phoneRow);
    phoneColumn->addWidget(phoneBound_);

    idPages_ = new QStackedWidget;
    idPages_->addWidget(idPage);
    idPages_->addWidget(phonePage);
    column->addWidget(idPages_);
    return area;
}

QWidget* DeviceCard::makePasswordArea()
{
    auto* area = new QWidget;
    auto* column = new QVBoxLayout(area);
    column->setContentsMargins(0, 0, 0, 0);
    auto* modes = new QHBoxLayout;
    pwModes_ = choiceRow(text::kPwModes, "pwMode", *modes, this);
    connect(pwModes_, &QButtonGroup::idClicked, this, [this](int mode) { controller_.setPwMode(mode); });
    column->addLayout(modes);

    password_ = largeLabel("tempPassword");
    refresh_ = namedButton("刷新", "refreshPassword");
    connect(refresh_, &QPushButton::clicked, this, [this] { controller_.refreshPassword(); });
    auto* passwordRow = new QHBoxLayout;
    passwordRow->addWidget(password_, 1);
    passwordRow->addWidget(refresh_);
    column->addLayout(passwordRow);

    newPassword_ = new QLineEdit;
    newPassword_->setObjectName("newPassword");
    newPassword_->setPlaceholderText(qs("设置新密码"));
    setPassword_ = namedButton("设置", "setPassword");
    connect(setPassword_, &QPushButton::clicked, this, [this] { submitPassword(); });
    connect(newPassword_, &QLineEdit::returnPressed, this, [this] { submitPassword(); });
    auto* newRow = new QHBoxLayout;
    newRow->addWidget(newPassword_, 1);
    newRow->addWidget(setPassword_);
    column->addLayout(newRow);
    return area;
}

QWidget* DeviceCard::makePermissionRow()
{
    permission_ = new QComboBox;
    permission_->setObjectName("permission");
    for (const auto& label : text::kPermissions) {
        permission_->addItem(qs(label));
    }
    connect(permission_, &QComboBox::currentIndexChanged, this, [this](int index) {
        controller_.setPermission(index);
    });
    auto* row = new QWidget;
    auto* layout = new QFormLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addRow(qs("权限"), permission_);
    return row;
}

void DeviceCard::follow()
{
    auto showId = [this](const std::string&) { id_->setText(qs(controller_.formattedId())); };
    followers_.follow(controller_.deviceId, showId);
    followers_.follow(controller_.idMode, [this](int mode) { showIdMode(mode); });
    followers_.follow(controller_.phoneAlias, [this](const std::string& alias) { seedPhoneField(alias); });
    followers_.follow(controller_.phoneId, [this](const std::string& phoneId) {
        phoneBound_->setText(qs(text::phoneBoundLabel(phoneId)));
        phoneBound_->setVisible(!phoneId.empty());
    });
    followers_.follow(controller_.pwMode, [this](int mode) { showPwMode(mode); });
    followers_.follow(controller_.tempPassword, [this](const std::string& password) {
        password_->setText(qs(password));
    });
    followers_.follow(controller_.permission, [this](int permission) { showPermission(permission); });
}

void DeviceCard::showIdMode(int mode)
{
    check(*idModes_, mode);
    idPages_->setCurrentIndex(mode == 1 ? 1 : 0);
}

// The phone field starts with the bound alias, once; after that it holds what the user types.
void DeviceCard::seedPhoneField(const std::string& alias)
{
    if (!phoneSeeded_ && !alias.empty()) {
        phoneField_->setText(qs(alias));
        phoneSeeded_ = true;
    }
}

// Callers of an SMS-mode computer prove themselves with a code, not the password, so the password
// parts rest; a one-time password is only ever replaced, never set.
void DeviceCard::showPwMode(int mode)
{
    check(*pwModes_, mode);
    password_->setEnabled(mode != kSmsCode);
    refresh_->setEnabled(mode != kSmsCode);
    newPassword_->setEnabled(mode == kFixedPassword);
    setPassword_->setEnabled(mode == kFixedPassword);
}

void DeviceCard::showPermission(int permission)
{
    QSignalBlocker quiet(permission_);
    permission_->setCurrentIndex(permission);
}

void DeviceCard::submitPassword()
{
    controller_.setPassword(newPassword_->text().toStdString());
    newPassword_->clear();
}

} // namespace tavoro::ui
