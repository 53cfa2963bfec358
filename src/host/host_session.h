#pragma once

#include "core/clock.h"
#include "core/scheduler.h"
#include "host/bitrate_controller.h"
#include "host/controller_roster.h"
#include "host/encoding_stream.h"
#include "host/input_injector.h"
#include "host/screen_capturer.h"
#include "platform/capture_source.h"
#include "platform/h264_encoder.h"
#include "platform/input_sink.h"
#include "platform/permissions.h"
#include "protocol/message_sender.h"
#include "transport/peer_link.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tavoro::host {

// The platform services a host session stands on, shared by every session of the installation.
struct HostMedia {
    platform::CaptureSource& capture;
    platform::H264EncoderFactory& encoders;
    platform::InputSink& input;
    platform::Permissions& permissions;
    std::string computerName; // sent with "monitors"
};

struct HostSessionDeps {
    protocol::MessageSender& sig;
    HostMedia& media;
    core::Scheduler& timers; // the shared background queue: the one-second session timer
    std::shared_ptr<const core::Clock> clock;
    std::unique_ptr<transport::PeerLink> link; // the UDP path to the primary controller
};

// This computer's side of one remote session: the primary controller (whose call made it) and up to
// three viewers, who holds control, the monitors, one encode of each captured picture sent to every
// controller (the primary over UDP while that path is up, everyone else through the server), the
// bitrate, and input from the controllers.
//
// Threads: the signaling queue calls start, handleInput, ingestSignal, attachViewer, removeViewer,
// promoteNextViewer and close; the capture thread delivers pictures and encodes them and sends the
// frames; the link's thread delivers "ice" and input datagrams; the shared background queue runs the
// one-second tick. Every operation is safe from any of these threads. onStatus is called on any of
// them and is set before start.
// Locks: `mcLock_` guards roster_, bitrate_, wantKeyframe_ and monitors_; it is held only for short
// reads and updates, never while sending, calling back or calling into the capturer, encoder,
// injector or link (except the link's linkState, read before taking it). captureMutex_ guards
// capturer_ and serialises every call into it, so that nothing restarts capture after close.
// closed_ is atomic.
class HostSession : public std::enable_shared_from_this<HostSession> {
public:
    static constexpr int kFps = 30;
    static constexpr int kQualityFps = 22;

    static std::shared_ptr<HostSession> create(HostSessionDeps deps, std::string callId, std::string peerId,
        bool injectInput);
    ~HostSession();
    HostSession(const HostSession&) = delete;
    HostSession& operator=(const HostSession&) = delete;

    std::function<void(const std::string& text)> onStatus;

    void start();
    void handleInput(const nlohmann::json& message, const std::string& from);
    void ingestSignal(const std::string& kind, const nlohmann::json* payload, const std::string& from);
    bool attachViewer(const std::string& peerId, const std::string& callId);
    void removeViewer(const std::string& peerId);
    bool promoteNextViewer();
    void close(bool sendBye, const std::string& reason);

    std::string peerId() const;
    // The primary controller's device ID and call ID, read together.
    ControllerTarget primary() const;
    std::size_t viewerCount() const;
    bool isExtra(const std::string& peerId) const;
    bool isController(const std::string& peerId) const;
    std::string controlHolder() const;
    int currentBitrateKbps() const;
    bool closed() const { return closed_; }
    transport::PeerLink& link() { return *link_; }

private:
    HostSession(HostSessionDeps deps, std::string callId, std::string peerId, bool injectInput);
    void installLinkCallbacks();
    void stopMedia();
    void startCapture();
    void onFrame(const platform::PixelBufferRef& picture, int width, int height);
    void fanOut(std::vector<std::uint8_t> accessUnit, bool isKey, int width, int height);
    bool primaryTakesUdp(bool isKey);
    void requestKeyframe();
    void requestPictureSoon();
    void sendMonitors(int count, int index);
    void sendMonitorsTo(const ControllerTarget& target, int count, int index);
    void broadcastControlState();
    void sendSignal(const ControllerTarget& target, const std::string& kind, const nlohmann::json* payload);
    void tick();
    void adaptBitrate();
    void applyQuality(const nlohmann::json* payload, const std::string& from);
    void switchMonitor(const nlohmann::json& message);
    void requestPicture();
    void viewersChanged();
    void status(const std::string& text);
    std::vector<ControllerTarget> targets() const;

    protocol::MessageSender& sig_;
    HostMedia& media_;
    core::Scheduler& timers_;
    std::shared_ptr<const core::Clock> clock_;
    const bool injectInput_;
    std::unique_ptr<transport::PeerLink> link_;
    InputInjector injector_;

    mutable std::mutex mcLock_;
    ControllerRoster roster_;
    BitrateController bitrate_;
    bool wantKeyframe_ = false;
    std::optional<std::pair<int, int>> monitors_; // the last display count and index reported

    std::mutex captureMutex_;
    std::unique_ptr<ScreenCapturer> capturer_;

    EncodingStream encoding_;  // capture thread, then close
    std::atomic<std::int64_t> sentFrames_{0};
    bool primaryOnUdp_ = false; // encoder thread only
    std::atomic<bool> closed_{false};
    std::unique_ptr<core::RepeatingTimer> stateTimer_; // set by start, dropped by close (signaling queue)
    std::mutex timerMutex_;                          // guards stateTimer_
};

} // namespace tavoro::host
