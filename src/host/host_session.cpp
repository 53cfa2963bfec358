#include "host/host_session.h"

#include "core/json_fields.h"
#include "core/log.h"
#include "host/host_permissions.h"
#include "protocol/media_frame.h"

namespace tavoro::host {
namespace {

constexpr auto kTickPeriod = std::chrono::seconds(1);

// "quality" and "set_monitor" numbers: an integer, or a number truncated toward zero.
std::int64_t integerOr(const nlohmann::json& message, std::string_view key, std::int64_t fallback)
{
    return json::intField(message, key, fallback);
}

} // namespace

std::shared_ptr<HostSession> HostSession::create(HostSessionDeps deps, std::string callId, std::string peerId,
    bool injectInput)
{
    std::shared_ptr<HostSession> session(
        new HostSession(std::move(deps), std::move(callId), std::move(peerId), injectInput));
    session->installLinkCallbacks();
    return session;
}

HostSession::HostSession(HostSessionDeps deps, std::string callId, std::string peerId, bool injectInput)
    : sig_(deps.sig),
      media_(deps.media),
      timers_(deps.timers),
      clock_(std::move(deps.clock)),
      injectInput_(injectInput),
      link_(std::move(deps.link)),
      injector_(media_.input, platform::DisplayRect{}),
      roster_(ControllerTarget{std::move(peerId), std::move(callId)}),
      bitrate_(clock_->now()),
      encoding_(media_.encoders, kFps)
{
    encoding_.onEncoded = [this](std::vector<std::uint8_t> accessUnit, bool isKey, int width, int height) {
        fanOut(std::move(accessUnit), isKey, width, height);
    };
}

// A session dropped without close sends nothing: the connection it would send through may be gone.
HostSession::~HostSession()
{
    if (!closed_.exchange(true)) {
        stopMedia();
    }
}

void HostSession::installLinkCallbacks()
{
    std::weak_ptr<HostSession> weak = weak_from_this();
    link_->onSignal = [weak](const std::string& kind, const json::Json& payload) {
        auto self = weak.lock();
        if (!self || self->closed_) {
            return;
        }
        ControllerTarget primary;
        {
            std::lock_guard lock(self->mcLock_);
            primary = self->roster_.primary();
        }
        self->sendSignal(primary, kind, &payload);
    };
    link_->onInput = [weak](std::vector<std::uint8_t> bytes) {
        auto self = weak.lock();
        if (!self || self->closed_) {
            return;
        }
        auto message = json::parse(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        if (message && message->is_object()) {
            self->handleInput(*message, "");
        }
    };
}

void HostSession::start()
{
    if (closed_ || !checkHostPermissions(media_.permissions, injectInput_, onStatus)) {
        return;
    }
    log::info("Tavoro host: 启动被控抓屏 peer=" + peerId());
    startCapture();
    {
        std::lock_guard lock(mcLock_);
        bitrate_.transportStarted(clock_->now());
    }
    link_->start();
    {
        std::lock_guard lock(mcLock_);
        roster_.started();
    }
    broadcastControlState();
    std::weak_ptr<HostSession> weak = weak_from_this();
    auto timer = std::make_unique<core::RepeatingTimer>(timers_, kTickPeriod, [weak] {
        if (auto self = weak.lock()) {
            self->tick();
        }
    });
    std::lock_guard lock(timerMutex_);
    if (!closed_) {
        stateTimer_ = std::move(timer);
    }
}

void HostSession::startCapture()
{
    std::weak_ptr<HostSession> weak = weak_from_this();
    auto capturer = std::make_unique<ScreenCapturer>(media_.capture, kFps);
    capturer->onError = [](const std::string& message) { log::info("Tavoro capture: " + message); };
    capturer->onFrame = [weak](const platform::PixelBufferRef& picture, int width, int height) {
        if (auto self = weak.lock()) {
            self->onFrame(picture, width, height);
        }
    };
    capturer->onDisplays = [weak](int count, int index) {
        if (auto self = weak.lock()) {
            self->sendMonitors(count, index);
        }
    };
    capturer->onDisplayBounds = [weak](const platform::DisplayRect& bounds) {
        if (auto self = weak.lock()) {
            self->injector_.setScreen(bounds);
        }
    };
    std::lock_guard lock(captureMutex_);
    if (closed_) {
        return;
    }
    capturer_ = std::move(capturer);
    capturer_->start();
}

void HostSession::onFrame(const platform::PixelBufferRef& picture, int width, int height)
{
    if (closed_ || !picture) {
        return;
    }
    EncodeRequest request;
    {
        std::lock_guard lock(mcLock_);
        request.bitrateKbps = bitrate_.currentKbps();
        request.newBitrateKbps = bitrate_.takePending();
        request.keyframe = std::exchange(wantKeyframe_, false);
    }
    encoding_.encode(*picture, width, height, request);
}

void HostSession::fanOut(std::vector<std::uint8_t> accessUnit, bool isKey, int width, int height)
{
    if (closed_) {
        return;
    }
    if (sentFrames_.fetch_add(1) == 0) {
        log::info("Tavoro host: 首帧已发 " + std::to_string(width) + "×" + std::to_string(height) + " (" +
            std::to_string(accessUnit.size()) + " B)");
    }
    const auto body = protocol::buildVideoFrameBody(static_cast<std::uint32_t>(width),
        static_cast<std::uint32_t>(height), accessUnit);
    const auto all = targets();
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (i == 0 && primaryTakesUdp(isKey) && link_->sendFrame(body)) {
            continue;
        }
        if (auto relayed = protocol::buildRelayMessage(all[i].peerId, body)) {
            sig_.sendBinary(std::move(*relayed));
        }
    }
}

// The primary moves from the server to the UDP path only at a keyframe, so that the first picture it
// gets over UDP stands on its own; until then frames keep going through the server and a keyframe is
// asked for. Falling back to the server also asks for one. Encoder thread only.
bool HostSession::primaryTakesUdp(bool isKey)
{
    if (!link_->linkState().connected) {
        if (std::exchange(primaryOnUdp_, false)) {
            requestKeyframe(); // what went out over UDP just before the path died is lost
        }
        return false;
    }
    if (!primaryOnUdp_ && isKey) {
        primaryOnUdp_ = true;
    } else if (!primaryOnUdp_) {
        requestKeyframe();
    }
    return primaryOnUdp_;
}

void HostSession::requestKeyframe()
{
    {
        std::lock_guard lock(mcLock_);
        wantKeyframe_ = true;
    }
    requestPictureSoon();
}

// Asks for a picture from the shared background queue: the capture thread, which may be the caller,
// must not call into its own capturer.
void HostSession::requestPictureSoon()
{
    std::weak_ptr<HostSession> weak = weak_from_this();
    timers_.after(std::chrono::milliseconds(0), [weak] {
        if (auto self = weak.lock()) {
            self->requestPicture();
        }
    });
}

void HostSession::handleInput(const nlohmann::json& message, const std::string& from)
{
    if (closed_) {
        return;
    }
    if (!from.empty() && from != controlHolder()) {
        return;
    }
    if (json::stringField(message, "kind") == "set_monitor") {
        switchMonitor(message);
    } else if (injectInput_) {
        injector_.handle(message);
    }
}

void HostSession::switchMonitor(const nlohmann::json& message)
{
    const auto index = integerOr(message, "index", 0);
    std::lock_guard lock(captureMutex_);
    if (capturer_ && !closed_) {
        capturer_->switchDisplay(index);
    }
}

void HostSession::ingestSignal(const std::string& kind, const nlohmann::json* payload, const std::string& from)
{
    if (closed_) {
        return;
    }
    if (kind == "ice") {
        if (!from.empty() && from != peerId()) {
            return;
        }
        link_->ingestSignal(kind, payload ? *payload : nlohmann::json());
    } else if (kind == "quality") {
        applyQuality(payload, from);
    } else if (kind == "req_control") {
        bool changed = false;
        {
            std::lock_guard lock(mcLock_);
            changed = roster_.requestControl(from);
        }
        if (changed) {
            broadcastControlState();
            log::info("Tavoro host: 控制权交给 " + from);
            status("🎮 控制权已交给 " + from);
        }
    } else if (kind == "release_control") {
        bool changed = false;
        {
            std::lock_guard lock(mcLock_);
            changed = roster_.releaseControl(from);
        }
        if (changed) {
            broadcastControlState();
            log::info("Tavoro host: " + from + " 释放控制权");
        }
    }
}

// Only an attached controller may change the stream: anyone else who knows the ID could otherwise
// degrade it at will.
void HostSession::applyQuality(const nlohmann::json* payload, const std::string& from)
{
    if (!payload || !isController(from)) {
        return;
    }
    const auto mode = integerOr(*payload, "mode", 2);
    int kbps = 0;
    {
        std::lock_guard lock(mcLock_);
        kbps = bitrate_.applyQuality(mode == 1 ? 1 : 2);
        wantKeyframe_ = true;
    }
    {
        std::lock_guard lock(captureMutex_);
        if (capturer_ && !closed_) {
            capturer_->setFps(mode == 1 ? kQualityFps : kFps);
        }
    }
    log::info(std::string("Tavoro host: 画质偏好 → ") + (mode == 1 ? "质量优先 20M/22fps" : "速度优先 3M/30fps") +
        " (生效 " + std::to_string(kbps) + " kbps)");
    requestPicture();
}

bool HostSession::attachViewer(const std::string& peerId, const std::string& callId)
{
    if (closed_) {
        return false;
    }
    int count = 0;
    std::optional<std::pair<int, int>> monitors;
    {
        std::lock_guard lock(mcLock_);
        if (roster_.attach(peerId, callId) == ControllerRoster::Attach::full) {
            return false;
        }
        wantKeyframe_ = true;
        count = roster_.controllerCount();
        monitors = monitors_;
    }
    broadcastControlState();
    if (monitors) {
        sendMonitorsTo({peerId, callId}, monitors->first, monitors->second);
    }
    viewersChanged();
    requestPicture();
    const auto n = std::to_string(count);
    log::info("Tavoro host: 多控接入 " + peerId + " (共 " + n + " 个控制端)");
    status("👥 " + peerId + " 也连上了你的电脑（仅查看，可请求控制）· 共 " + n + " 个控制端");
    return true;
}

void HostSession::removeViewer(const std::string& peerId)
{
    ControllerRoster::Removal removal;
    int count = 0;
    {
        std::lock_guard lock(mcLock_);
        removal = roster_.remove(peerId);
        count = roster_.controllerCount();
    }
    if (!removal.found) {
        return;
    }
    if (removal.holderChanged) {
        broadcastControlState();
    }
    viewersChanged();
    const auto n = std::to_string(count);
    log::info("Tavoro host: 控制端 " + peerId + " 已离开 (剩 " + n + " 个)");
    status("👥 控制端 " + peerId + " 已离开 · 剩 " + n + " 个控制端");
}

bool HostSession::promoteNextViewer()
{
    std::optional<std::string> old;
    ControllerTarget primary;
    std::optional<std::pair<int, int>> monitors;
    {
        std::lock_guard lock(mcLock_);
        old = roster_.promote();
        if (!old) {
            return false;
        }
        wantKeyframe_ = true;
        primary = roster_.primary();
        monitors = monitors_;
    }
    broadcastControlState();
    if (monitors) {
        sendMonitorsTo(primary, monitors->first, monitors->second);
    }
    link_->stop();
    viewersChanged();
    requestPicture();
    log::info("Tavoro host: 促升 " + primary.peerId + " 为主控 (原 " + *old + " 已离开)，P2P 关闭改走 WS");
    status("🔁 " + *old + " 已离开，" + primary.peerId + " 接续会话");
    return true;
}

// Viewers always receive through the server, whose capacity the stream then has to respect.
void HostSession::viewersChanged()
{
    std::optional<std::string> line;
    {
        std::lock_guard lock(mcLock_);
        line = bitrate_.setViewersAttached(!roster_.viewers().empty());
    }
    if (line) {
        log::info(*line);
    }
}

void HostSession::close(bool sendBye, const std::string& reason)
{
    if (closed_.exchange(true)) {
        return;
    }
    ControllerTarget primary;
    std::vector<ControllerTarget> viewers;
    {
        std::lock_guard lock(mcLock_);
        primary = roster_.primary();
        viewers = roster_.clear();
    }
    log::info("Tavoro host: 结束被控会话 peer=" + primary.peerId + " sendBye=" + (sendBye ? "true" : "false") +
        " extras=" + std::to_string(viewers.size()));
    stopMedia();
    auto bye = [this, &reason](const ControllerTarget& target) {
        sig_.send("bye", {{"to", target.peerId}, {"call_id", target.callId}, {"reason", reason}});
    };
    if (sendBye) {
        bye(primary);
    }
    for (const auto& viewer : viewers) {
        bye(viewer);
    }
}

// Stops the transport, the timer and capture, then the encoder: stopping capture waits for the capture
// thread, so no picture is encoded or sent after this.
void HostSession::stopMedia()
{
    link_->stop();
    {
        std::lock_guard lock(timerMutex_);
        if (stateTimer_) {
            stateTimer_->cancel();
            stateTimer_.reset();
        }
    }
    {
        std::lock_guard lock(captureMutex_);
        if (capturer_) {
            capturer_->stop();
            capturer_.reset();
        }
    }
    encoding_.finish();
}

void HostSession::tick()
{
    if (closed_) {
        return;
    }
    bool repeat = false;
    {
        std::lock_guard lock(mcLock_);
        repeat = roster_.takeStateTick();
    }
    if (repeat) {
        broadcastControlState();
    }
    adaptBitrate();
}

void HostSession::adaptBitrate()
{
    const auto state = link_->linkState();
    const LinkReading reading{state.connected, state.rttMs, state.relayed()};
    std::vector<std::string> lines;
    {
        std::lock_guard lock(mcLock_);
        lines = bitrate_.adapt(reading, clock_->now());
    }
    // A new bitrate waits for the next picture: on a still screen there is nothing to encode again.
    for (const auto& line : lines) {
        log::info(line);
    }
}

void HostSession::requestPicture()
{
    std::lock_guard lock(captureMutex_);
    if (capturer_ && !closed_) {
        capturer_->refresh();
    }
}

void HostSession::sendMonitors(int count, int index)
{
    {
        std::lock_guard lock(mcLock_);
        monitors_ = std::pair(count, index);
    }
    for (const auto& target : targets()) {
        sendMonitorsTo(target, count, index);
    }
}

void HostSession::sendMonitorsTo(const ControllerTarget& target, int count, int index)
{
    const nlohmann::json payload{{"count", count}, {"index", index}, {"name", media_.computerName}};
    sendSignal(target, "monitors", &payload);
}

void HostSession::broadcastControlState()
{
    std::string holder;
    std::vector<ControllerTarget> all;
    {
        std::lock_guard lock(mcLock_);
        holder = roster_.holder();
        all = roster_.targets();
    }
    const nlohmann::json payload{{"holder", holder}};
    for (const auto& target : all) {
        sendSignal(target, "control_state", &payload);
    }
}

void HostSession::sendSignal(const ControllerTarget& target, const std::string& kind, const nlohmann::json* payload)
{
    nlohmann::json message{{"to", target.peerId}, {"call_id", target.callId}, {"kind", kind}};
    if (payload) {
        message["payload"] = *payload;
    }
    sig_.send("signal", std::move(message));
}

void HostSession::status(const std::string& text)
{
    if (onStatus) {
        onStatus(text);
    }
}

std::vector<ControllerTarget> HostSession::targets() const
{
    std::lock_guard lock(mcLock_);
    return roster_.targets();
}

std::string HostSession::peerId() const
{
    std::lock_guard lock(mcLock_);
    return roster_.primary().peerId;
}

ControllerTarget HostSession::primary() const
{
    std::lock_guard lock(mcLock_);
    return roster_.primary();
}

std::size_t HostSession::viewerCount() const
{
    std::lock_guard lock(mcLock_);
    return roster_.viewers().size();
}

bool HostSession::isExtra(const std::string& peerId) const
{
    std::lock_guard lock(mcLock_);
    return roster_.isViewer(peerId);
}

bool HostSession::isController(const std::string& peerId) const
{
    std::lock_guard lock(mcLock_);
    return !peerId.empty() && roster_.isController(peerId);
}

std::string HostSession::controlHolder() const
{
    std::lock_guard lock(mcLock_);
    return roster_.holder();
}

int HostSession::currentBitrateKbps() const
{
    std::lock_guard lock(mcLock_);
    return bitrate_.currentKbps();
}

} // namespace tavoro::host
