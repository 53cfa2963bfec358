// The outgoing session's lifecycle: the user ending it, the host's "bye", relayed frames, and the loss
// of the server connection.
#include "app/remote_controller.h"
#include "app/status_texts.h"

namespace tavoro::app {

std::shared_ptr<control::ControlSession> RemoteController::controlSession() const
{
    std::lock_guard lock(callMutex_);
    return control_;
}

std::shared_ptr<control::ControlSession> RemoteController::replaceControlSession(
    std::shared_ptr<control::ControlSession> session)
{
    std::lock_guard lock(callMutex_);
    return std::exchange(control_, std::move(session));
}

void RemoteController::endControl()
{
    std::shared_ptr<control::ControlSession> session;
    {
        std::lock_guard lock(callMutex_);
        pending_.redialOnConnect = false;
        pending_.offlineRetries = 0;
        pending_.retryDue = false;
        pending_.awaitedCallId.clear();
        session = std::exchange(control_, nullptr);
    }
    if (session) {
        session->close(true);
    }
    onMain([](RemoteController& self) {
        self.control.set(nullptr);
        self.status.set(self.onlineStatus());
    });
}

void RemoteController::handleBinary(const std::vector<std::uint8_t>& bytes)
{
    if (auto session = controlSession()) {
        session->handleBinary(bytes);
    }
}

// The controller's half of a "bye": true when it ended the outgoing session.
bool RemoteController::handleControlBye(const std::string& from, const std::string& reason)
{
    std::shared_ptr<control::ControlSession> session;
    {
        std::lock_guard lock(callMutex_);
        if (!control_ || (!from.empty() && from != control_->peerId())) {
            return false;
        }
        session = std::exchange(control_, nullptr);
    }
    session->close(false);
    onMain([reason](RemoteController& self) {
        self.control.set(nullptr);
        self.status.set(reason == "taken_over" ? text::kTakenOver : text::kSessionEnded);
    });
    return true;
}

// The same call is placed again as soon as the connection is back.
void RemoteController::closeControlOnDisconnect()
{
    std::shared_ptr<control::ControlSession> session;
    {
        std::lock_guard lock(callMutex_);
        session = std::exchange(control_, nullptr);
        if (session) {
            pending_.lostSession.emplace(session->peerId(), session->callId());
        }
        // A call still waiting for its answer is lost with the connection too.
        if (session || !pending_.awaitedCallId.empty()) {
            pending_.redialOnConnect = true;
        }
        pending_.awaitedCallId.clear();
    }
    if (session) {
        session->close(false);
        onMain([](RemoteController& self) { self.control.set(nullptr); });
    }
}

// The host of a session lost with the connection streams on until told: when the call is not placed
// again, it hears "bye" as soon as the connection is back.
void RemoteController::sayByeToLostSession()
{
    std::optional<std::pair<std::string, std::string>> lost;
    {
        std::lock_guard lock(callMutex_);
        lost = std::exchange(pending_.lostSession, std::nullopt);
    }
    if (lost) {
        sig_->send("bye", {{"to", lost->first}, {"call_id", lost->second}, {"reason", "user_close"}});
    }
}

} // namespace tavoro::app
