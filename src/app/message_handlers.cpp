// What the installation does with the messages the rendezvous server delivers.
#include "app/remote_controller.h"
#include "app/status_texts.h"
#include "core/json_fields.h"
#include "core/log.h"

namespace tavoro::app {

signaling::MessageRoutes RemoteController::makeRoutes()
{
    // Handlers hold the controller weakly; they only run while the signaling thread does.
    std::weak_ptr<RemoteController> weak = weak_from_this();
    auto with = [weak](auto fn) {
        return [weak, fn](const auto&... args) {
            if (auto self = weak.lock()) {
                fn(*self, args...);
            }
        };
    };
    signaling::MessageRoutes routes;
    routes.callResponse = with([](RemoteController& self, const std::string&, const nlohmann::json& m) {
        self.handleCallResponse(m);
    });
    routes.registerReply = with([](RemoteController& self, const nlohmann::json& m) { self.handleRegisterReply(m); });
    routes.smsCodeResp = with([](RemoteController& self, const nlohmann::json&) { self.handleSmsCodeResp(); });
    routes.clipboardText = with([](RemoteController& self, const std::string& text, const std::string& from) {
        self.handleClipboardText(text, from);
    });
    routes.pushMsg = with([](RemoteController& self, const std::string& from, const std::string& text) {
        self.chat_->receive(from, text);
    });
    routes.fsListResp = with([](RemoteController& self, const std::string& path, const nlohmann::json::array_t& entries,
                                 const std::string& from) { self.handleFsListResp(path, entries, from); });
    routes.fileTransfer = with([](RemoteController& self, const std::string& type, const nlohmann::json& m) {
        if (self.transfers_) {
            self.transfers_->handleMessage(type, m);
        }
    });
    routes.fsRequest = with([](RemoteController& self, const std::string& type, const nlohmann::json& m) {
        if (self.fsServer_) {
            self.fsServer_->handle(type, m);
        }
    });
    routes.call = with([](RemoteController& self, const nlohmann::json& m) { self.handleIncomingCall(m); });
    routes.input = with([](RemoteController& self, const nlohmann::json& m, const std::string& from) {
        self.handleHostInput(m, from);
    });
    routes.signal = with([](RemoteController& self, const std::string& kind, const nlohmann::json* payload,
                             const std::string& from) { self.handleSignal(kind, payload, from); });
    routes.bye = with([](RemoteController& self, const std::string& from, const std::string& reason) {
        self.handleBye(from, reason);
        if (self.transfers_ && !from.empty()) {
            self.transfers_->abandonFrom(from);
        }
    });
    routes.error = with([](RemoteController& self, const std::string& text) { self.handleServerError(text); });
    return routes;
}

void RemoteController::onText(const std::string& type, const nlohmann::json& message)
{
    signaling::routeText(routes_, type, message);
}

void RemoteController::handleRegisterReply(const nlohmann::json& message)
{
    auto dup = json::stringField(message, "phone_dup");
    auto bound = json::stringField(message, "phone_id");
    onMain([dup, bound](RemoteController& self) {
        if (!dup.empty()) {
            self.phoneId.set("");
            self.status.set(text::phoneTaken(dup));
        } else if (!bound.empty()) {
            self.phoneId.set(bound);
            self.status.set(text::phoneBound(bound));
        }
    });
}

void RemoteController::handleSmsCodeResp()
{
    awaitingSmsCode_ = false;
    setStatus(text::kSmsCodeSent);
}

void RemoteController::handleServerError(const std::string& message)
{
    if (awaitingSmsCode_.exchange(false)) {
        onMain([](RemoteController& self) { self.cancelSmsCountdown(); });
    }
    if (!message.empty()) {
        setStatus(text::serverError(message));
    }
}

// Only a peer this computer is in a session with may set its clipboard: anyone else who knows the ID
// could otherwise replace the user's clipboard at will.
void RemoteController::handleClipboardText(const std::string& text, const std::string& from)
{
    if (isSessionPeer(from)) {
        services_.pasteboard.setText(text);
    }
}

} // namespace tavoro::app
