#pragma once

#include <QPlainTextEdit>

#include <functional>

namespace tavoro::ui {

// The chat composer: several lines of text where Return (or Enter) asks to send and Shift+Return
// starts a new line. GUI thread only.
class ComposerEdit final : public QPlainTextEdit {
public:
    explicit ComposerEdit(std::function<void()> submit, QWidget* parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::function<void()> submit_;
};

} // namespace tavoro::ui
