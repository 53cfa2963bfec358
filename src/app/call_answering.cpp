// The host side of call setup: admitting or refusing a call, and starting the hosted session or
// attaching the caller to the running one.
#include "app/call_admission.h"
#include "app/remote_controller.h"
#include "app/status_texts.h"
#include "core/log.h"
#include "transport/p2p_transport.h"

namespace tavoro::app {

void RemoteController::handleIncomingCall(const nlohmann::json& message)
{
    const auto call = readIncomingCall(message);
    if (!call) {
        return;
    }
    const AdmissionPolicy policy{services_.hostMedia ? permission.get() : 0, pwMode.get(), tempPassword.get()};
    bool lockoutStarted = false;
    const auto refusal = refusalFor(*call, policy, passwordGuard_, services_.clock->now(), lockoutStarted);
    if (lockoutStarted) {
        log::info("Tavoro: 密码连续错误 " + std::to_string(PasswordGuard::kAllowedFailures) +
            " 次，5 分钟内拒绝所有密码来电");
    }
    if (refusal) {
        refuseCall(*call, *refusal);
        return;
    }
    auto running = hostSession();
    if (running && !running->closed() && running->peerId() != call->from) {
        attachToRunningSession(*running, *call);
        return;
    }
    startHostSession(*call);
}

void RemoteController::refuseCall(const IncomingCall& call, const std::string& reason)
{
    sig_->send("call_response", {{"to", call.from}, {"call_id", call.callId}, {"accepted", false}, {"reason", reason}});
    setStatus(call.fromName + " 尝试连接：" + reason);
}

void RemoteController::acceptCall(const IncomingCall& call)
{
    sig_->send("call_response",
        {{"to", call.from}, {"call_id", call.callId}, {"accepted", true}, {"from_name", text::kComputerName}});
}

void RemoteController::attachToRunningSession(host::HostSession& session, const IncomingCall& call)
{
    if (!session.attachViewer(call.from, call.callId)) {
        refuseCall(call, refusal::kTooMany);
        return;
    }
    acceptCall(call);
    log::info("Tavoro: 多控来电已接入 from=" + call.from + " call_id=" + call.callId + " (共 " +
        std::to_string(session.viewerCount() + 1) + " 个控制端)");
    std::weak_ptr<host::HostSession> weakSession = session.weak_from_this();
    onMain([weakSession](RemoteController& self) {
        if (auto current = weakSession.lock()) {
            self.status.set(text::hostedBy(current->viewerCount() + 1));
        }
    });
}

void RemoteController::startHostSession(const IncomingCall& call)
{
    acceptCall(call);
    log::info("Tavoro: 接受来电 from=" + call.from + " mode=" + call.mode + " call_id=" + call.callId);
    auto link = std::make_unique<transport::P2PTransport>(
        transport::P2PTransport::Settings{deployment_.stunServers}, services_.clock, services_.random);
    auto session = host::HostSession::create(
        {*sig_, *services_.hostMedia, services_.backgroundScheduler, services_.clock, std::move(link)}, call.callId,
        call.from, call.mode == "control");
    std::weak_ptr<RemoteController> weak = weak_from_this();
    session->onStatus = [weak](const std::string& text) {
        if (auto self = weak.lock()) {
            self->setStatus(text);
        }
    };
    if (call.relay) {
        session->link().setRelay(call.relay->host, call.relay->port, call.relay->token);
    }
    if (auto old = replaceHostSession(session)) {
        old->close(false, "host_close");
    }
    session->start();
    const std::string text = call.mode == "view" ? "被 " + call.fromName + " 查看中" : "被 " + call.fromName + " 控制中";
    onMain([session, name = call.fromName, text](RemoteController& self) {
        self.host.set(session);
        self.hostPeerName.set(name);
        self.status.set(text);
    });
}

} // namespace tavoro::app
