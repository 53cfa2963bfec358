#pragma once

#include <QWidget>

#include <functional>

namespace tavoro::ui {

class SessionView;

// The top-level window around a session view. Closing it by hand (the window manager's close button,
// Alt+F4) runs `closedByUser`; closeQuietly closes it without.
//
// Threads: GUI thread only.
class SessionWindow final : public QWidget {
public:
    SessionWindow(SessionView* view, std::function<void()> closedByUser);

    SessionView& view() const { return *view_; }
    void closeQuietly();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    SessionView* view_; // child
    std::function<void()> closedByUser_;
};

} // namespace tavoro::ui
