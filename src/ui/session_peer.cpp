#include "ui/session_peer.h"

namespace tavoro::ui {

std::optional<host::ControllerTarget> sessionPeer(app::RemoteController& controller)
{
    if (auto control = controller.control.get()) {
        return host::ControllerTarget{control->peerId(), control->callId()};
    }
    if (auto hosted = controller.host.get()) {
        return hosted->primary();
    }
    return std::nullopt;
}

SessionPeerWatch::SessionPeerWatch(app::RemoteController& controller, std::function<void()> changed)
{
    control_ = controller.control.subscribe([changed](const auto&) { changed(); });
    host_ = controller.host.subscribe([changed](const auto&) { changed(); });
}

} // namespace tavoro::ui
