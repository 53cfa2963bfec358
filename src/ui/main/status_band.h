#pragma once

#include "app/remote_controller.h"
#include "ui/main/follow.h"

#include <QWidget>

class QLabel;

namespace tavoro::ui {

// The foot of the main window: the version, the signaling connection, the outgoing and the hosted
// session, and the status line. GUI thread only; the controller outlives the band.
class StatusBand final : public QWidget {
public:
    explicit StatusBand(app::RemoteController& controller, QWidget* parent = nullptr);

private:
    void showSessions();

    app::RemoteController& controller_;
    QLabel* signaling_ = nullptr;
    QLabel* control_ = nullptr;
    QLabel* host_ = nullptr;
    QLabel* status_ = nullptr;
    Followers followers_;
};

} // namespace tavoro::ui
