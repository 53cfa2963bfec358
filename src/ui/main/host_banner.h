#pragma once

#include "app/remote_controller.h"
#include "ui/main/follow.h"

#include <QWidget>

class QLabel;

namespace tavoro::ui {

// Shown only while this computer is hosted: who is viewing or controlling it, and the button that
// ends the hosted session. GUI thread only; the controller outlives the banner.
class HostBanner final : public QWidget {
public:
    explicit HostBanner(app::RemoteController& controller, QWidget* parent = nullptr);

private:
    void showHost();

    app::RemoteController& controller_;
    QLabel* peer_ = nullptr;
    Followers followers_;
};

} // namespace tavoro::ui
