#pragma once

#include "platform/pasteboard.h"
#include "platform/qt/gui_gate.h"

#include <QObject>

#include <mutex>
#include <string>

namespace tavoro::platform::qt {

// The system clipboard through QClipboard, which only the GUI thread may touch. Construct and destroy it
// on the GUI thread while the QGuiApplication exists. setText() and text() are safe from any thread:
// setText() takes effect on the clipboard when the GUI thread next runs its events, and text() answers
// from a copy that follows the clipboard's changes (and this object's own setText() at once).
// mutex_ guards text_.
class QtPasteboard final : public Pasteboard {
public:
    QtPasteboard();
    ~QtPasteboard() override;
    QtPasteboard(const QtPasteboard&) = delete;
    QtPasteboard& operator=(const QtPasteboard&) = delete;

    void setText(const std::string& text) override;
    std::string text() const override;

private:
    void remember(std::string text);
    void readClipboard(); // GUI thread

    QObject context_;
    GuiGate gate_{context_};
    mutable std::mutex mutex_;
    std::string text_;
};

} // namespace tavoro::platform::qt
