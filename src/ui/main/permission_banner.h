#pragma once

#include "platform/permissions.h"

#include <QWidget>

class QLabel;

namespace tavoro::ui {

// Shown only while this computer cannot be captured or cannot take input: the warning for each
// missing condition and two buttons that explain how to provide it and check again. The conditions
// are read again by recheck(), which the main window calls whenever it is shown or activated. GUI
// thread only; the permissions outlive the banner.
class PermissionBanner final : public QWidget {
public:
    PermissionBanner(platform::Permissions& permissions, QWidget* parent);

    void recheck();

private:
    void explain(const std::string& help);

    platform::Permissions& permissions_;
    QLabel* warnings_ = nullptr;
    QLabel* help_ = nullptr;
};

} // namespace tavoro::ui
