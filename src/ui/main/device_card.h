#pragma once

#include "app/remote_controller.h"
#include "ui/main/follow.h"

#include <QGroupBox>

class QButtonGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;

namespace tavoro::ui {

// "您的设备": how callers reach this computer (its nine-digit ID, or a phone number bound as alias),
// the password with its three modes, and what callers may do. Shows the controller's fields and calls
// its operations. GUI thread only; the controller outlives the card.
class DeviceCard final : public QGroupBox {
public:
    explicit DeviceCard(app::RemoteController& controller, QWidget* parent = nullptr);

private:
    QWidget* makeIdArea();
    QWidget* makePasswordArea();
    QWidget* makePermissionRow();
    void follow();
    void showIdMode(int mode);
    void seedPhoneField(const std::string& alias);
    void showPwMode(int mode);
    void showPermission(int permission);
    void submitPassword();

    app::RemoteController& controller_;
    QButtonGroup* idModes_ = nullptr;
    QStackedWidget* idPages_ = nullptr;
    QLabel* id_ = nullptr;
    QLineEdit* phoneField_ = nullptr;
    QLabel* phoneBound_ = nullptr;
    bool phoneSeeded_ = false;
    QButtonGroup* pwModes_ = nullptr;
    QLabel* password_ = nullptr;
    QPushButton* refresh_ = nullptr;
    QLineEdit* newPassword_ = nullptr;
    QPushButton* setPassword_ = nullptr;
    QComboBox* permission_ = nullptr;
    Followers followers_;
};

} // namespace tavoro::ui
