#pragma once

#include "app/remote_controller.h"
#include "control/control_session.h"
#include "core/observable.h"
#include "core/scheduler.h"
#include "platform/settings_store.h"
#include "ui/logic/geometry.h"
#include "ui/session/session_view.h"

#include <functional>
#include <memory>
#include <vector>

namespace tavoro::ui {

class SessionWindow;

// The window of the running control session: at most one, opened for each new session the controller
// publishes and closed when it goes away. It opens at the frame saved under "TavoroSessionWindow" (moved
// onto the screens there are now), else centred at 1280 × 760 and, once the remote size is first known,
// sized to the remote aspect. The frame is saved when the window closes. Closing it by hand ends the
// session, if it is still the controller's; a session that ended elsewhere closes its window without
// ending anything.
//
// Threads: GUI thread only (the controller's main thread). `timers` runs there; it and `settings`
// outlive the manager.
class SessionWindowManager {
public:
    // The screens' available areas in logical pixels, the primary first.
    using Screens = std::function<std::vector<Rect>()>;

    // screens: empty for the application's screens.
    SessionWindowManager(std::weak_ptr<app::RemoteController> controller, core::Scheduler& timers,
        platform::SettingsStore& settings, SessionActions actions = {}, Screens screens = {});
    ~SessionWindowManager();
    SessionWindowManager(const SessionWindowManager&) = delete;
    SessionWindowManager& operator=(const SessionWindowManager&) = delete;

    // The controller's current session changed (RemoteController::control).
    void update(std::shared_ptr<control::ControlSession> session);
    // The open window, or null.
    SessionWindow* window() const { return window_.get(); }

private:
    void open(std::shared_ptr<control::ControlSession> session);
    void close();
    void closedByUser();
    bool restoreFrame();
    void centre(Size content);
    void waitForFirstSize();
    void takeFirstSize();
    void saveFrame();
    void stopWaiting();
    std::vector<Rect> screens() const;

    std::weak_ptr<app::RemoteController> controller_;
    core::Scheduler& timers_;
    platform::SettingsStore& settings_;
    SessionActions actions_;
    Screens screens_;
    std::shared_ptr<control::ControlSession> session_;
    std::unique_ptr<SessionWindow> window_;
    core::Observable<int>::Subscription widthSub_; // wait for the first remote size
    core::Observable<int>::Subscription heightSub_;
    bool hadSavedFrame_ = false;
};

} // namespace tavoro::ui
