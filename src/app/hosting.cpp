// The hosted session's lifecycle: the controllers' "bye", the user ending it, and the loss of the
// server connection.
#include "app/remote_controller.h"
#include "app/status_texts.h"
#include "core/log.h"

namespace tavoro::app {

std::shared_ptr<host::HostSession> RemoteController::hostSession() const
{
    std::lock_guard lock(hostMutex_);
    return host_;
}

std::shared_ptr<host::HostSession> RemoteController::replaceHostSession(std::shared_ptr<host::HostSession> session)
{
    std::lock_guard lock(hostMutex_);
    return std::exchange(host_, std::move(session));
}

// Ends the hosted session (if `expected` is still the one running) and shows this computer as idle.
void RemoteController::endHostSession(const std::shared_ptr<host::HostSession>& expected, bool sendBye)
{
    {
        std::lock_guard lock(hostMutex_);
        if (!expected || host_ != expected) {
            return;
        }
        host_.reset();
    }
    expected->close(sendBye, "host_close");
    onMain([](RemoteController& self) {
        self.host.set(nullptr);
        self.hostPeerName.set("");
        self.status.set(self.onlineStatus());
    });
    if (pwMode.get() == 1) {
        refreshPassword();
    }
}

void RemoteController::endHost()
{
    if (auto session = hostSession()) {
        endHostSession(session, true);
    } else {
        setStatus(onlineStatus());
    }
}

void RemoteController::handleBye(const std::string& from, const std::string& reason)
{
    auto control = controlSession();
    auto session = hostSession();
    log::info("Tavoro: 收到 bye from=" + from + " reason=" + reason + " (control=" +
        (control ? control->peerId() : std::string("-")) + " host=" + (session ? session->peerId() : std::string("-")) +
        ")");
    handleControlBye(from, reason);
    session = hostSession();
    if (!session) {
        return;
    }
    if (!from.empty() && session->isExtra(from)) {
        session->removeViewer(from);
        return;
    }
    if (!from.empty() && from != session->peerId()) {
        return;
    }
    if (session->promoteNextViewer()) {
        const auto primary = session->peerId();
        onMain([primary](RemoteController& self) {
            self.hostPeerName.set(primary);
            self.status.set("被 " + primary + " 控制中");
        });
        return;
    }
    endHostSession(session, false);
}

void RemoteController::closeHostedSessionOnDisconnect()
{
    auto session = replaceHostSession(nullptr);
    if (!session) {
        return;
    }
    session->close(false, "host_close");
    onMain([](RemoteController& self) {
        self.host.set(nullptr);
        self.hostPeerName.set("");
    });
    if (pwMode.get() == 1) {
        refreshPassword();
    }
}

void RemoteController::handleHostInput(const nlohmann::json& message, const std::string& from)
{
    if (auto session = hostSession()) {
        session->handleInput(message, from);
    }
}

// Every signal is offered to both sessions; each takes what concerns it.
void RemoteController::handleSignal(const std::string& kind, const nlohmann::json* payload, const std::string& from)
{
    if (auto control = controlSession(); control && (from.empty() || from == control->peerId())) {
        control->ingestSignal(kind, payload);
    }
    if (auto session = hostSession()) {
        session->ingestSignal(kind, payload, from);
    }
}

bool RemoteController::isSessionPeer(const std::string& peerId) const
{
    auto session = hostSession();
    return session && session->isController(peerId);
}

} // namespace tavoro::app
