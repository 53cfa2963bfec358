#pragma once

#include "control/control_session.h"
#include "control/view_state.h"
#include "core/scheduler.h"
#include "platform/display_sink.h"
#include "ui/logic/remote_input.h"

#include <QWidget>

#include <memory>
#include <optional>

namespace tavoro::platform::qt {
class VideoSurface;
}

namespace tavoro::ui {

class RemoteCursorArrow;

// The remote screen in the session window: the picture, the host's pointer drawn for a viewer without
// control, and the local mouse, wheel and keys turned into input for the host. Positions are mapped
// through the rectangle the picture is drawn in; keys travel by their X key code (nativeScanCode), so
// Tab, Shift+1 and the like reach the host as keys, not characters. Whatever it pressed is released
// when it stops receiving events (focus lost, window deactivated, hidden). With keyboard capture on it
// takes the keyboard (application shortcuts included) while it has the focus.
//
// The session is held weakly: input after it ended is dropped. Its state is pushed in by the owner
// (setRemoteSize, setDisplayMode, setRemoteCursor), which holds the session.
//
// Threads: GUI thread only; `timers` must run its tasks there (the move clock) and outlive the view.
class RemoteScreenView final : public QWidget {
public:
    RemoteScreenView(std::weak_ptr<control::ControlSession> session, core::Scheduler& timers, QWidget* parent = nullptr);
    ~RemoteScreenView() override;
    RemoteScreenView(const RemoteScreenView&) = delete;
    RemoteScreenView& operator=(const RemoteScreenView&) = delete;

    // Where the decoder delivers the pictures; feedable from the decoder's thread.
    std::shared_ptr<platform::DisplaySink> sink() const;

    void setRemoteSize(int width, int height);
    void setDisplayMode(control::DisplayMode mode);
    // The host's pointer, drawn when `show` (a viewer without control) and the host does not hide it.
    void setRemoteCursor(const std::optional<control::RemoteCursor>& cursor, bool show);

    void setKeyboardCapture(bool on);
    bool keyboardCapture() const { return capture_; }

protected:
    bool event(QEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void sendToSession(nlohmann::json fields);
    void followPicture();
    void placeCursor();
    void stopReceiving();

    std::weak_ptr<control::ControlSession> session_;
    platform::qt::VideoSurface* surface_; // child
    RemoteCursorArrow* arrow_;            // child, above the surface
    RemoteInput input_;
    std::optional<control::RemoteCursor> cursor_;
    bool showCursor_ = false;
    bool capture_ = false;
};

} // namespace tavoro::ui
