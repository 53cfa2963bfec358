// Identity and credentials of the installation: device ID, password and its modes, phone alias,
// permission, call IDs and the dialled-peer history.
#include "app/identity.h"
#include "app/remote_controller.h"
#include "app/status_texts.h"

namespace tavoro::app {

std::string RemoteController::getOrMakeDeviceId()
{
    auto stored = services_.settings.get("device_id");
    if (stored && stored->is_string() && isValidStoredDeviceId(stored->get<std::string>())) {
        return stored->get<std::string>();
    }
    if (stored) {
        services_.settings.keepCopyAside("中的设备 ID 无效");
    }
    auto id = makeDeviceId(services_.random);
    services_.settings.set("device_id", id);
    return id;
}

std::string RemoteController::getOrMakeDeviceKey()
{
    auto stored = services_.settings.get("device_key");
    if (stored && stored->is_string() && isValidStoredDeviceKey(stored->get<std::string>())) {
        return stored->get<std::string>();
    }
    if (stored) {
        services_.settings.keepCopyAside("中的设备密钥无效");
    }
    auto key = makeDeviceKey(services_.random);
    services_.settings.set("device_key", key);
    return key;
}

std::string RemoteController::formattedId() const { return formatId(deviceId.get()); }

void RemoteController::copyId()
{
    services_.pasteboard.setText(deviceId.get());
    setStatus(text::kIdCopied);
}

std::string RemoteController::loadPassword()
{
    auto stored = services_.settings.get("temp_pw");
    if (stored && stored->is_string() && !stored->get<std::string>().empty()) {
        return stored->get<std::string>();
    }
    auto password = makeTempPassword(services_.random);
    storePassword(password);
    return password;
}

void RemoteController::storePassword(const std::string& password) { services_.settings.set("temp_pw", password); }

void RemoteController::setPassword(const std::string& input)
{
    auto password = trimSpacesAndTabs(input);
    if (password.empty() || password == tempPassword.get()) {
        return;
    }
    publish(tempPassword, password);
    storePassword(password);
}

void RemoteController::refreshPassword()
{
    auto password = makeTempPassword(services_.random);
    publish(tempPassword, password);
    if (pwMode.get() == 1) {
        services_.settings.remove("temp_pw");
    } else {
        storePassword(password);
    }
}

void RemoteController::setPwMode(int mode)
{
    pwMode.set(mode);
    services_.settings.set("pw_mode", mode);
    if (!phoneAlias.get().empty()) {
        registrationRefresh();
    }
    if (mode == 1) {
        refreshPassword();
        setStatus(text::kPwModeOneTime);
    } else if (mode == 2) {
        setStatus(phoneAlias.get().empty() ? text::kPwModeSmsNeedsPhone : text::kPwModeSms);
    } else {
        storePassword(tempPassword.get());
        setStatus(text::kPwModeFixed);
    }
}

void RemoteController::setIdMode(int mode)
{
    idMode.set(mode);
    if (mode == 0 && !phoneAlias.get().empty()) {
        phoneAlias.set("");
        phoneId.set("");
        services_.settings.set("phone_alias", "");
        registrationRefresh();
        setStatus(text::kBackToNineDigitId);
    }
}

void RemoteController::bindPhone(const std::string& input)
{
    auto alias = phoneCharacters(input);
    if (alias.empty()) {
        phoneAlias.set("");
        phoneId.set("");
        services_.settings.set("phone_alias", "");
        registrationRefresh();
        setStatus(text::kPhoneUnbound);
        return;
    }
    if (!hasElevenDigitNumber(alias)) {
        setStatus(text::kPhoneNeedsElevenDigits);
        return;
    }
    if (alias == phoneAlias.get()) {
        return;
    }
    phoneAlias.set(alias);
    phoneId.set("");
    services_.settings.set("phone_alias", alias);
    registrationRefresh();
    setStatus(text::bindingPhone(alias));
}

void RemoteController::setPermission(int value)
{
    permission.set(value);
    services_.settings.set("perm", value);
}

void RemoteController::registrationRefresh()
{
    sig_->setRegistration(phoneAlias.get(), pwMode.get() == 2);
    if (sig_->connected()) {
        sig_->sendRegister();
    }
}

std::string RemoteController::newCallId() const { return std::to_string(services_.wallClock.millisSinceEpoch()); }

void RemoteController::pushPeerHistory(const std::string& peer)
{
    auto history = withPeerFirst(recentPeers.get(), peer);
    services_.settings.set("peer_history", history);
    publish(recentPeers, std::move(history));
}

} // namespace tavoro::app
