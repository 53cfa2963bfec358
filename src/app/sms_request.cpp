// The SMS verification-code request of the controller side, with its one-minute countdown.
#include "app/identity.h"
#include "app/remote_controller.h"
#include "app/status_texts.h"

namespace tavoro::app {

void RemoteController::requestSmsCode(const std::string& phone)
{
    if (smsCooldown.get() >= 1) {
        return;
    }
    if (!isSmsTarget(phone)) {
        setStatus(text::kSmsOnlyForPhones);
        return;
    }
    if (!sig_->connected()) {
        setStatus(text::kSignalingDown);
        sig_->forceReconnect();
        return;
    }
    awaitingSmsCode_ = true;
    sig_->send("sms_code_req", {{"to", phone}});
    setStatus(text::smsRequested(phone));
    onMain([](RemoteController& self) { self.startSmsCountdown(60); });
}

void RemoteController::startSmsCountdown(int seconds)
{
    smsTimer_.reset();
    smsCooldown.set(seconds);
    std::weak_ptr<RemoteController> weak = weak_from_this();
    smsTimer_ = std::make_unique<core::RepeatingTimer>(services_.mainScheduler, std::chrono::seconds(1), [weak] {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        int left = self->smsCooldown.get() - 1;
        if (left < 1) {
            self->smsCooldown.set(0);
            self->smsTimer_.reset();
        } else {
            self->smsCooldown.set(left);
        }
    });
}

void RemoteController::cancelSmsCountdown()
{
    smsTimer_.reset();
    smsCooldown.set(0);
}

} // namespace tavoro::app
