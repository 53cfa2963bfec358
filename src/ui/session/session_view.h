#pragma once

#include "app/remote_controller.h"
#include "control/control_session.h"
#include "core/scheduler.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QLabel;
class QMenu;
class QTimer;
class QToolButton;

namespace tavoro::ui {

class RemoteScreenView;

// What the session window's file-transfer and chat buttons open; they are made elsewhere.
struct SessionActions {
    using Open = std::function<void(const std::shared_ptr<control::ControlSession>& session)>;
    Open openFiles; // empty: the controller's file browser (RemoteController::openFileBrowser)
    Open openChat;  // empty: the chat button is disabled
};

// The session window's content: a toolbar (control, keyboard capture, the display menu with the
// full-screen choices, quality menu, sound, the Super key, the host's next display, files, chat, a menu
// with recording, screenshot and shared folder, disconnect, and the session's status line) above the
// remote screen; F11 toggles full screen. It holds the session, follows its published state into the
// toolbar and the remote screen, hands the remote screen's sink to the session's decoder once, and
// shows each action's outcome as a transient notice.
//
// Threads: GUI thread only (the controller's main thread); `timers` runs its tasks there and outlives
// the view.
class SessionView final : public QWidget {
public:
    SessionView(std::weak_ptr<app::RemoteController> controller, std::shared_ptr<control::ControlSession> session,
        core::Scheduler& timers, SessionActions actions, QWidget* parent = nullptr);
    ~SessionView() override;
    SessionView(const SessionView&) = delete;
    SessionView& operator=(const SessionView&) = delete;

    const std::shared_ptr<control::ControlSession>& session() const { return session_; }
    RemoteScreenView& screen() { return *screen_; }
    // Makes the window holding the view fill the screen, or leaves full screen.
    void setFullscreen(bool on);
    // Shows a line over the remote screen for a few seconds.
    void showNotice(const std::string& line);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QWidget* makeToolbar();
    QToolButton* addButton(QWidget* bar, const char* objectName, const QString& text, std::function<void()> action);
    QMenu* makeDisplayMenu();
    QMenu* makeQualityMenu();
    QMenu* makeMoreMenu();
    void follow();
    template <typename T>
    void followField(core::Observable<T>& field, std::function<void()> show);
    void showControl();
    void showCursor();
    void showSound();
    void showQuality();
    void showRecording();
    void showMonitors();
    void showStatus();
    void placeNotice();
    void toggleControl();
    void toggleKeyboardCapture();
    void toggleSound();
    void pressSuperKey();
    void chooseQuality(int mode);
    void toggleRecording();
    void takeScreenshot();
    void endSession();

    std::weak_ptr<app::RemoteController> controller_;
    std::shared_ptr<control::ControlSession> session_;
    SessionActions actions_;
    std::vector<std::shared_ptr<void>> subscriptions_; // each an Observable subscription on session_
    RemoteScreenView* screen_ = nullptr; // children
    QLabel* status_ = nullptr;
    QLabel* notice_ = nullptr;
    QTimer* noticeTimer_ = nullptr;
    QToolButton* controlButton_ = nullptr;
    QToolButton* captureButton_ = nullptr;
    QToolButton* soundButton_ = nullptr;
    QToolButton* monitorButton_ = nullptr;
    QMenu* qualityMenu_ = nullptr;
    QAction* recordAction_ = nullptr;
};

} // namespace tavoro::ui
