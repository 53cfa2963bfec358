#pragma once

#include <QDialog>

namespace tavoro::ui {

// The About box: the product, its version and the platform it runs on. Not modal. GUI thread only.
class AboutBox final : public QDialog {
public:
    explicit AboutBox(QWidget* parent = nullptr);
};

} // namespace tavoro::ui
