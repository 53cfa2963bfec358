// Placing a call and taking the host's answer.
#include "app/identity.h"
#include "app/remote_controller.h"
#include "app/status_texts.h"
#include "core/json_fields.h"
#include "core/log.h"
#include "transport/p2p_transport.h"

namespace tavoro::app {
namespace {

constexpr std::chrono::milliseconds kOfflineRetryDelay{500};

} // namespace

void RemoteController::connectToPeer(const std::string& peer, const std::string& password, const std::string& mode)
{
    if (!isValidTarget(peer)) {
        setStatus(text::kInvalidTarget);
        return;
    }
    {
        std::lock_guard lock(callMutex_);
        pending_.peer = peer;
        pending_.password = password;
        pending_.mode = mode;
        pending_.offlineRetries = 0;
        pending_.retryDue = false;
    }
    pushPeerHistory(peer);
    if (sig_->connected()) {
        doCall();
        return;
    }
    {
        std::lock_guard lock(callMutex_);
        pending_.redialOnConnect = true;
    }
    setStatus(text::redialing(peer));
    if (sig_->wantConnected()) {
        sig_->forceReconnect();
    }
}

void RemoteController::doCall()
{
    std::string peer;
    nlohmann::json call;
    {
        std::lock_guard lock(callMutex_);
        pending_.awaitedCallId = newCallId();
        pending_.lostSession.reset(); // the new call replaces it on the host
        peer = pending_.peer;
        call = {{"to", peer}, {"mode", pending_.mode}, {"password", pending_.password},
            {"from_name", text::kComputerName}, {"call_id", pending_.awaitedCallId}};
    }
    sig_->send("call", std::move(call));
    setStatus(text::calling(peer));
}

// Only the answer to the call just sent counts: any device could otherwise answer "accepted" and
// receive this user's input.
void RemoteController::handleCallResponse(const nlohmann::json& message)
{
    const auto from = json::stringField(message, "from");
    const auto callId = json::stringField(message, "call_id");
    std::string peer;
    {
        std::lock_guard lock(callMutex_);
        if (from.empty() || pending_.awaitedCallId.empty() || callId != pending_.awaitedCallId) {
            return;
        }
        pending_.awaitedCallId.clear();
        peer = pending_.peer;
    }
    if (!json::boolField(message, "accepted")) {
        const auto reason = json::stringField(message, "reason");
        if (reason == text::kPeerOffline && takeOfflineRetry()) {
            std::weak_ptr<RemoteController> weak = weak_from_this();
            services_.mainScheduler.after(kOfflineRetryDelay, [weak] {
                if (auto self = weak.lock()) {
                    self->retryRedial();
                }
            });
            return;
        }
        setStatus(text::refused(reason));
        return;
    }
    auto name = json::stringField(message, "from_name");
    startControlSession(message, name.empty() ? peer : name, peer);
}

bool RemoteController::takeOfflineRetry()
{
    std::lock_guard lock(callMutex_);
    if (pending_.offlineRetries <= 0) {
        return false;
    }
    --pending_.offlineRetries;
    pending_.retryDue = true;
    return true;
}

// Unless the user placed another call, ended this one or the connection went again meanwhile.
void RemoteController::retryRedial()
{
    {
        std::lock_guard lock(callMutex_);
        if (!std::exchange(pending_.retryDue, false) || !pending_.awaitedCallId.empty() || control_
            || !sig_->connected()) {
            return;
        }
    }
    doCall();
}

bool RemoteController::redialPending() const
{
    std::lock_guard lock(callMutex_);
    return pending_.redialOnConnect;
}

void RemoteController::startControlSession(const nlohmann::json& message, const std::string& peerName,
    const std::string& target)
{
    if (!services_.controlMedia) {
        return;
    }
    auto link = std::make_unique<transport::P2PTransport>(
        transport::P2PTransport::Settings{deployment_.stunServers}, services_.clock, services_.random);
    auto session = control::ControlSession::create(
        {*sig_, *services_.controlMedia, services_.mainQueue, services_.backgroundScheduler, services_.wallClock,
            std::move(link)},
        json::stringField(message, "call_id"), json::stringField(message, "from"), deviceId.get(), peerName);
    if (const auto* relay = json::objectField(message, "relay")) {
        session->link().setRelay(json::stringField(*relay, "host"), json::intField(*relay, "port", 0),
            json::stringField(*relay, "token"));
    }
    // Routed to from now on, so that the host's first signals and keyframe are not lost.
    if (auto previous = replaceControlSession(session)) {
        previous->close(true);
    }
    session->start();
    log::info("Tavoro: 控制会话开始 peer=" + session->peerId() + " call_id=" + session->callId());
    onMain([session, text = text::controlling(target)](RemoteController& self) {
        self.status.set(text);
        self.control.set(session);
    });
}

} // namespace tavoro::app
