#include "app/remote_controller.h"

#include "app/identity.h"
#include "app/status_texts.h"
#include "core/json_fields.h"
#include "signaling/ws_url.h"

#include <array>

namespace tavoro::app {
namespace {

int storedInt(const platform::SettingsStore& store, std::string_view key, int fallback)
{
    auto value = store.get(key);
    auto number = value ? json::asInteger(*value) : std::nullopt;
    return number && *number >= INT32_MIN && *number <= INT32_MAX ? static_cast<int>(*number) : fallback;
}

// A random (version 4) UUID in its usual text form.
std::string newUuid(platform::SecureRandom& random)
{
    std::array<std::uint8_t, 16> bytes{};
    random.fill(bytes);
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            text += '-';
        }
        text += kHex[bytes[i] >> 4];
        text += kHex[bytes[i] & 0x0F];
    }
    return text;
}

} // namespace

std::shared_ptr<RemoteController> RemoteController::create(Services services, Deployment deployment)
{
    std::shared_ptr<RemoteController> controller(new RemoteController(std::move(services), std::move(deployment)));
    controller->attachSignaling();
    return controller;
}

RemoteController::RemoteController(Services services, Deployment deployment)
    : status(text::kConnecting),
      services_(std::move(services)),
      deployment_(std::move(deployment)),
      sig_(std::make_unique<signaling::Signaling>(services_.connector, services_.mainScheduler)),
      chat_(chat::ChatStore::create(*sig_, services_.mainQueue, [&random = services_.random] { return newUuid(random); }))
{
    loadSettings();
    createFileService();
    createTransfers();
}

RemoteController::~RemoteController()
{
    if (auto session = replaceControlSession(nullptr)) {
        session->close(false);
    }
    if (auto session = replaceHostSession(nullptr)) {
        session->close(false, "host_close"); // while the connection it sends through still exists
    }
    fsServer_.reset();
    ownFileWorker_.reset(); // file work in flight still sends through *sig_
    transfers_.reset();
    transferWorker_.reset(); // a file being sent stops at its next chunk, finding the manager gone
    transferChannel_.reset();
    sig_.reset(); // no signaling callback may run while the rest is torn down
}

void RemoteController::loadSettings()
{
    auto& store = services_.settings;
    permission.set(storedInt(store, "perm", 2));
    pwMode.set(storedInt(store, "pw_mode", 0));
    auto alias = store.get("phone_alias");
    phoneAlias.set(alias && alias->is_string() ? alias->get<std::string>() : std::string());
    idMode.set(phoneAlias.get().empty() ? 0 : 1);
    std::vector<std::string> peers;
    if (auto history = store.get("peer_history"); history && history->is_array()) {
        for (const auto& entry : *history) {
            if (entry.is_string()) {
                peers.push_back(entry.get<std::string>());
            }
        }
    }
    recentPeers.set(std::move(peers));
}

void RemoteController::attachSignaling()
{
    routes_ = makeRoutes();
    std::weak_ptr<RemoteController> weak = weak_from_this();
    sig_->onText = [weak](const std::string& type, const nlohmann::json& message) {
        if (auto self = weak.lock()) {
            self->onText(type, message);
        }
    };
    sig_->onBinary = [weak](const std::vector<std::uint8_t>& bytes) {
        if (auto self = weak.lock()) {
            self->handleBinary(bytes);
        }
    };
    sig_->onOpen = [weak] {
        if (auto self = weak.lock()) {
            self->onWsOpen();
        }
    };
    sig_->onClose = [weak](const std::string&) {
        if (auto self = weak.lock()) {
            self->onWsClose();
        }
    };
}

void RemoteController::start()
{
    if (started_.exchange(true)) {
        return;
    }
    deviceId.set(getOrMakeDeviceId());
    // A one-time password is never reused across runs, so it is not read from the store.
    tempPassword.set(pwMode.get() == 1 ? makeTempPassword(services_.random) : loadPassword());
    registrationRefresh();
    sig_->start(deployment_.serverUrl, deviceId.get(), deployment_.token, getOrMakeDeviceKey());
}

void RemoteController::onWsOpen()
{
    bool redial = false;
    {
        std::lock_guard lock(callMutex_);
        redial = std::exchange(pending_.redialOnConnect, false) && isValidTarget(pending_.peer);
        pending_.offlineRetries = redial ? kRedialOfflineRetries : 0;
    }
    // The status first: whoever watches `online` may place a call, whose text must stay.
    onMain([redial](RemoteController& self) {
        if (!redial) {
            self.status.set(self.onlineStatus());
        }
        self.online.set(true);
    });
    if (redial) {
        doCall();
    } else {
        sayByeToLostSession();
    }
}

void RemoteController::onWsClose()
{
    closeControlOnDisconnect();
    closeHostedSessionOnDisconnect();
    if (transfers_) {
        transfers_->abandonAll(); // their remaining chunks were lost with the connection
    }
    onMain([](RemoteController& self) {
        self.online.set(false);
        self.status.set(text::kConnectionLost);
    });
}

void RemoteController::setStatus(const std::string& text) { publish(status, text); }

std::string RemoteController::onlineStatus() const { return text::online(deviceId.get(), tempPassword.get()); }

std::string serverUrlFor(const std::string& address)
{
    const bool bracketed = address.starts_with('[');
    const auto closing = address.find(']');
    const bool hasPort = bracketed ? (closing != std::string::npos && closing + 1 < address.size())
                                   : address.find(':') != std::string::npos;
    const std::string url = "wss://" + address + (hasPort ? "" : ":8443") + "/ws";
    auto parsed = signaling::parseWsUrl(url);
    return parsed && parsed->target == "/ws" ? url : std::string();
}

} // namespace tavoro::app
