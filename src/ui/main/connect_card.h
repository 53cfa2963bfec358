#pragma once

#include "app/remote_controller.h"
#include "ui/main/follow.h"

#include <QGroupBox>

#include <string>
#include <vector>

class QComboBox;
class QLineEdit;
class QMenu;
class QPushButton;
class QToolButton;

namespace tavoro::ui {

// "连接到远程": the partner field with the menu of recently called peers, the password or SMS code,
// the call mode, the SMS code request with its countdown, and the button that places the call. GUI
// thread only; the controller outlives the card.
class ConnectCard final : public QGroupBox {
public:
    explicit ConnectCard(app::RemoteController& controller, QWidget* parent = nullptr);

private:
    QToolButton* makeHistoryButton();
    void showHistory(const std::vector<std::string>& peers);
    void showSmsCooldown(int seconds);
    std::string peer() const;
    void placeCall();

    app::RemoteController& controller_;
    QLineEdit* peerField_ = nullptr;
    QLineEdit* passwordField_ = nullptr;
    QComboBox* modeChoice_ = nullptr;
    QToolButton* history_ = nullptr;
    QMenu* historyMenu_ = nullptr;
    QPushButton* sms_ = nullptr;
    Followers followers_;
};

} // namespace tavoro::ui
