#pragma once

#include "app/remote_controller.h"
#include "core/observable.h"
#include "host/controller_roster.h"

#include <functional>
#include <optional>

namespace tavoro::ui {

// The other side of the running session as the windows show it: the host of the outgoing session
// first, else the primary controller of the hosted session; none without a session. Reads the
// controller's published fields. GUI thread.
std::optional<host::ControllerTarget> sessionPeer(app::RemoteController& controller);

// Calls `changed` whenever the outgoing or the hosted session is published anew, for as long as it
// lives. GUI thread; the controller outlives it.
class SessionPeerWatch {
public:
    SessionPeerWatch(app::RemoteController& controller, std::function<void()> changed);

private:
    core::Observable<std::shared_ptr<control::ControlSession>>::Subscription control_;
    core::Observable<std::shared_ptr<host::HostSession>>::Subscription host_;
};

} // namespace tavoro::ui
