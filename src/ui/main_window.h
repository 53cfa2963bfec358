#pragma once

#include "app/remote_controller.h"
#include "core/observable.h"

#include <QWidget>

#include <vector>

class QButtonGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tavoro::ui {

// The main window: this installation's ID and password, the card that places calls, and the status
// band. Every value shown follows an observable field of the controller; every action calls one of its
// operations. The first time the window is shown it starts the controller.
//
// Threads: GUI thread only (which is the controller's main thread). The controller must outlive the window.
class MainWindow final : public QWidget {
public:
    explicit MainWindow(app::RemoteController& controller, QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* makeDeviceCard();
    QWidget* makeConnectCard();
    QWidget* makeStatusBand();
    void subscribe();
    void showIdentity();
    void showSessions();
    void placeCall();

    app::RemoteController& controller_;
    bool started_ = false;
    QLabel* idLabel_ = nullptr;
    QLabel* passwordLabel_ = nullptr;
    QLineEdit* peerField_ = nullptr;
    QLineEdit* passwordField_ = nullptr;
    QComboBox* modeChoice_ = nullptr;
    QLabel* statusLabel_ = nullptr;
    QLabel* signalingLabel_ = nullptr;
    QLabel* controlLabel_ = nullptr;
    QLabel* hostLabel_ = nullptr;
    std::vector<core::Observable<std::string>::Subscription> textSubscriptions_;
    core::Observable<bool>::Subscription onlineSubscription_;
    core::Observable<std::shared_ptr<control::ControlSession>>::Subscription controlSubscription_;
    core::Observable<std::shared_ptr<host::HostSession>>::Subscription hostSubscription_;
};

} // namespace tavoro::ui
