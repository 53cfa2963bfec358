#include "control/control_session.h"

#include "control/input_messages.h"
#include "core/json_fields.h"
#include "core/log.h"
#include "protocol/media_frame.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tavoro::control {
namespace {

// Frame sizes arrive as unsigned 32-bit values; anything beyond int reads as unknown.
int frameSide(std::uint32_t value)
{
    return value > static_cast<std::uint32_t>(std::numeric_limits<int>::max()) ? 0 : static_cast<int>(value);
}

} // namespace

std::shared_ptr<ControlSession> ControlSession::create(ControlSessionDeps deps, std::string callId,
    std::string peerId, std::string myId, std::string peerName)
{
    std::shared_ptr<ControlSession> session(new ControlSession(
        std::move(deps), std::move(callId), std::move(peerId), std::move(myId), std::move(peerName)));
    session->installLinkCallbacks();
    return session;
}

ControlSession::ControlSession(ControlSessionDeps deps, std::string callId, std::string peerId, std::string myId,
    std::string peerName)
    : sig_(deps.sig),
      media_(deps.media),
      mainQueue_(deps.mainQueue),
      timers_(deps.timers),
      wallClock_(deps.wallClock),
      callId_(std::move(callId)),
      peerId_(std::move(peerId)),
      myId_(std::move(myId)),
      peerName_(peerName.empty() ? peerId_ : std::move(peerName)),
      link_(std::move(deps.link)),
      video_(VideoDecoder::create(media_.decoders, media_.decodeQueue)),
      recording_(media_.folders, wallClock_)
{
}

ControlSession::~ControlSession()
{
    link_->stop();
    std::lock_guard lock(timerMutex_);
    statsTimer_.reset();
}

template <typename Fn>
void ControlSession::onMain(Fn fn)
{
    std::weak_ptr<ControlSession> weak = weak_from_this();
    mainQueue_.runOrPost([weak, fn = std::move(fn)]() mutable {
        if (auto self = weak.lock()) {
            fn(*self);
        }
    });
}

template <typename Fn>
void ControlSession::onFrameQueue(Fn fn)
{
    std::weak_ptr<ControlSession> weak = weak_from_this();
    media_.frameQueue->post([weak, fn = std::move(fn)]() mutable {
        if (auto self = weak.lock()) {
            fn(*self);
        }
    });
}

void ControlSession::installLinkCallbacks()
{
    std::weak_ptr<ControlSession> weak = weak_from_this();
    link_->onSignal = [weak](const std::string& kind, const json::Json& payload) {
        if (auto self = weak.lock()) {
            self->sendSignal(kind, &payload);
        }
    };
    link_->onFrame = [weak](std::vector<std::uint8_t> frame) {
        if (auto self = weak.lock()) {
            self->onFrameQueue([frame = std::move(frame)](ControlSession& s) { s.handleBody(frame); });
        }
    };
}

void ControlSession::start()
{
    link_->start();
    std::weak_ptr<ControlSession> weak = weak_from_this();
    auto tick = [weak] {
        if (auto self = weak.lock()) {
            self->onFrameQueue([](ControlSession& s) { s.statisticsStep(); });
        }
    };
    std::lock_guard lock(timerMutex_);
    if (!closed_) {
        statsTimer_ = std::make_unique<core::RepeatingTimer>(timers_, std::chrono::seconds(1), tick);
    }
}

// Relayed frames count only from the host: the server writes the sender's ID into the relay header
// (a server that leaves the destination, this computer's ID, there still works).
void ControlSession::handleBinary(const std::vector<std::uint8_t>& message)
{
    auto relay = protocol::parseRelayMessage(message);
    if (!relay || closed_ || (relay->peer != peerId_ && relay->peer != myId_)) {
        return;
    }
    onFrameQueue([body = std::vector<std::uint8_t>(relay->body.begin(), relay->body.end())](ControlSession& s) {
        s.handleBody(body);
    });
}

void ControlSession::handleBody(std::span<const std::uint8_t> body)
{
    if (closed_ || body.size() < protocol::frameHeaderSize) {
        return;
    }
    const auto type = static_cast<protocol::FrameType>(body[0]);
    if (body.size() == protocol::frameHeaderSize && type != protocol::FrameType::audio) {
        return;
    }
    rxBytes_ += static_cast<std::int64_t>(body.size());
    const auto frame = protocol::parseFrameBody(body);
    switch (type) {
    case protocol::FrameType::picture: handlePicture(frame->payload); break;
    case protocol::FrameType::h264: handleVideo(frame->width, frame->height, frame->payload); break;
    case protocol::FrameType::tile:
        if (!std::exchange(warnedTile_, true)) {
            log::info("Tavoro: received JPEG tile (0x03); tile decode not implemented");
        }
        break;
    case protocol::FrameType::audio: handleAudio(body); break;
    }
}

void ControlSession::handlePicture(std::span<const std::uint8_t> payload)
{
    auto picture = media_.images.decodeImage(payload);
    if (!picture) {
        return;
    }
    setRemoteSize(picture->width(), picture->height());
    fallbackShown_ = true;
    onMain([picture](ControlSession& s) { s.fallbackImage.set(picture); });
}

void ControlSession::handleVideo(std::uint32_t width, std::uint32_t height, std::span<const std::uint8_t> payload)
{
    ++rxFrames_;
    ++framesReceived_;
    const int w = frameSide(width);
    const int h = frameSide(height);
    if (w != 0 && h != 0) {
        setRemoteSize(w, h);
    }
    if (fallbackShown_.exchange(false)) {
        onMain([](ControlSession& s) { s.fallbackImage.set(nullptr); });
    }
    video_->decode(payload, w, h);
    recording_.write(payload);
}

void ControlSession::handleAudio(std::span<const std::uint8_t> body)
{
    if (mutedCopy_) {
        return;
    }
    const int rate = body[1] | (body[2] << 8);
    const int channels = body[3] == 0 ? 1 : body[3];
    if (body.size() < 11 || rate == 0) {
        return;
    }
    if (!audio_) {
        auto sink = media_.audio.create();
        if (!sink) {
            return;
        }
        audio_ = std::make_unique<AudioOut>(std::move(sink));
    }
    audio_->playPcm16(body.subspan(protocol::frameHeaderSize), rate * 100, channels);
}

void ControlSession::setRemoteSize(int width, int height)
{
    if (remoteWCopy_ == width && remoteHCopy_ == height) {
        return;
    }
    remoteWCopy_ = width;
    remoteHCopy_ = height;
    onMain([width, height](ControlSession& s) {
        s.remoteW.set(width);
        s.remoteH.set(height);
    });
}

void ControlSession::statisticsStep()
{
    const auto stats = statsFor(std::exchange(rxFrames_, 0), std::exchange(rxBytes_, 0), link_->linkState());
    onMain([stats](ControlSession& s) {
        s.fps.set(stats.fps);
        s.kbps.set(stats.kbps);
        s.linkKind.set(stats.kind);
        s.rttMs.set(stats.rttMs);
    });
}

std::string ControlSession::statusLine() const
{
    return control::statusLine({fps.get(), kbps.get(), linkKind.get(), rttMs.get()}, remoteW.get(), remoteH.get());
}

void ControlSession::ingestSignal(const std::string& kind, const nlohmann::json* payload)
{
    if (kind == "ice") {
        link_->ingestSignal(kind, payload ? *payload : json::Json::object());
    } else if (kind == "monitors" && payload) {
        const auto count = json::intField(*payload, "count", 1);
        const auto index = json::intField(*payload, "index", 0);
        onMain([count, index](ControlSession& s) {
            s.monitorCount.set(count >= 2 && count <= std::numeric_limits<int>::max() ? static_cast<int>(count) : 1);
            s.monitorIndex.set(static_cast<int>(std::clamp<std::int64_t>(index, 0, std::numeric_limits<int>::max())));
        });
    } else if (kind == "control_state") {
        const auto holder = payload ? json::stringField(*payload, "holder") : std::string();
        const bool mine = !myId_.empty() && holder == myId_;
        onMain([mine](ControlSession& s) {
            s.controlKnown.set(true);
            if (s.hasControl.get() != mine) {
                s.hasControl.set(mine);
            }
        });
    } else if (kind == "cursor_pos" && payload) {
        RemoteCursor cursor{json::doubleField(*payload, "xn").value_or(0), json::doubleField(*payload, "yn").value_or(0),
            json::boolField(*payload, "hidden")};
        onMain([cursor](ControlSession& s) { s.remoteCursor.set(cursor); });
    }
}

void ControlSession::sendSignal(const std::string& kind, const nlohmann::json* payload)
{
    if (closed_) {
        return;
    }
    nlohmann::json message{{"to", peerId_}, {"call_id", callId_}, {"kind", kind}};
    if (payload) {
        message["payload"] = *payload;
    }
    sig_.send("signal", std::move(message));
}

void ControlSession::requestControl() { sendSignal("req_control", nullptr); }
void ControlSession::releaseControl() { sendSignal("release_control", nullptr); }

// Before the host's first control state input is sent; after it, only while this computer holds control.
bool ControlSession::inputBlocked() const { return controlKnown.get() && !hasControl.get(); }

void ControlSession::sendInput(nlohmann::json message)
{
    if (closed_ || inputBlocked() || !message.is_object()) {
        return;
    }
    message["to"] = peerId_;
    message["call_id"] = callId_;
    sig_.send("input", std::move(message));
}

void ControlSession::sendMouseMove(double x, double y)
{
    sendInput(input::mouseMove(x, y));
}

void ControlSession::sendMouseBtn(const std::string& button, bool down)
{
    sendInput(input::mouseButton(button, down));
}

void ControlSession::sendWheel(int dx, int dy) { sendInput(input::wheel(dx, dy)); }

void ControlSession::sendKey(int vk, bool down, bool ext)
{
    sendInput(input::key(vk, down, ext));
}

void ControlSession::sendQuality(int mode)
{
    onMain([mode](ControlSession& s) { s.qualityMode.set(mode); });
    const nlohmann::json payload{{"mode", mode}};
    sendSignal("quality", &payload);
}

void ControlSession::setAudioMuted(bool muted)
{
    mutedCopy_ = muted;
    onMain([muted](ControlSession& s) { s.audioMuted.set(muted); });
}

void ControlSession::cycleMonitor()
{
    if (closed_ || inputBlocked()) {
        return;
    }
    const int count = monitorCount.get();
    const int next = count > 0 ? (monitorIndex.get() + 1) % count : 0;
    sig_.send("input", {{"to", peerId_}, {"call_id", callId_}, {"kind", "set_monitor"}, {"index", next}});
}

std::string ControlSession::toggleRecording()
{
    if (recording_.isOpen()) {
        auto text = recording_.stop();
        onMain([](ControlSession& s) { s.isRecording.set(false); });
        return text;
    }
    auto text = recording_.start();
    onMain([open = recording_.isOpen()](ControlSession& s) { s.isRecording.set(open); });
    return text;
}

std::string ControlSession::startRecordingAt(const std::filesystem::path& path)
{
    auto text = recording_.startAt(path);
    onMain([open = recording_.isOpen()](ControlSession& s) { s.isRecording.set(open); });
    return text;
}

std::string ControlSession::screenshot(const std::optional<std::filesystem::path>& path)
{
    const std::string none = "还没收到帧 — 无法截图";
    auto picture = video_->snapshot();
    if (!picture) {
        return none;
    }
    auto png = media_.images.encodePng(*picture);
    if (!png) {
        return none;
    }
    return saveScreenshot(*png, media_.folders, wallClock_, path);
}

void ControlSession::close(bool sendBye)
{
    if (closed_.exchange(true)) {
        return;
    }
    link_->stop();
    {
        std::lock_guard lock(timerMutex_);
        statsTimer_.reset();
    }
    recording_.close();
    video_->release();
    // Audio belongs to the frame queue; nothing plays or starts again once the session is closed.
    onFrameQueue([](ControlSession& s) {
        if (s.audio_) {
            s.audio_->release();
            s.audio_.reset();
        }
    });
    if (sendBye) {
        sig_.send("bye", {{"to", peerId_}, {"call_id", callId_}, {"reason", "user_close"}});
    }
}

} // namespace tavoro::control
