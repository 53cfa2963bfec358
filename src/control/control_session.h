#pragma once

#include "control/audio_out.h"
#include "control/link_stats.h"
#include "control/recording.h"
#include "control/video_decoder.h"
#include "control/view_state.h"
#include "core/clock.h"
#include "core/main_queue.h"
#include "core/observable.h"
#include "core/scheduler.h"
#include "core/serial_queue.h"
#include "platform/audio_sink.h"
#include "platform/h264_decoder.h"
#include "platform/image_codec.h"
#include "platform/user_folders.h"
#include "protocol/message_sender.h"
#include "transport/peer_link.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace tavoro::control {

// The platform services and queues a control session stands on, shared by every session of the
// installation. The queues outlive the sessions, so a session may end on either of them.
struct ControlMedia {
    platform::H264DecoderFactory& decoders;
    platform::ImageCodec& images;
    platform::AudioSinkFactory& audio;
    const platform::UserFolders& folders;
    std::shared_ptr<core::SerialQueue> frameQueue;  // "tavoro.ctrl.frames"
    std::shared_ptr<core::SerialQueue> decodeQueue; // "tavoro.h264.dec"
};

struct ControlSessionDeps {
    protocol::MessageSender& sig;
    ControlMedia& media;
    core::MainQueue& mainQueue;
    core::Scheduler& timers; // the shared background queue: the one-second statistics timer
    const core::WallClock& wallClock;
    std::unique_ptr<transport::PeerLink> link; // the UDP path to the host
};

// This computer's side of one remote session: receives the host's frames over UDP and through the
// server, decodes, records and plays them, follows the host's signals, sends input and requests, and
// publishes one second of statistics at a time.
//
// Threads: the main thread calls start, the senders, the requests, setAudioMuted, toggleRecording,
// screenshot and close, and every published field is written there. The signaling queue calls
// handleBinary and ingestSignal; the link's thread delivers frames and "ice". Frames, the statistics
// step and the audio output run on the frame queue, which alone touches rxFrames_, rxBytes_,
// warnedTile_ and audio_. The fields the frame queue reads of the published state have atomic copies.
// Every operation is safe after close, which is final.
class ControlSession : public std::enable_shared_from_this<ControlSession> {
public:
    static std::shared_ptr<ControlSession> create(ControlSessionDeps deps, std::string callId, std::string peerId,
        std::string myId, std::string peerName);
    ~ControlSession();
    ControlSession(const ControlSession&) = delete;
    ControlSession& operator=(const ControlSession&) = delete;

    // Published state (main thread writes).
    core::Observable<int> remoteW{0};
    core::Observable<int> remoteH{0};
    core::Observable<platform::PixelBufferRef> fallbackImage;
    core::Observable<int> fps{0};
    core::Observable<int> kbps{0};
    core::Observable<LinkKind> linkKind{LinkKind::ws};
    core::Observable<int> rttMs{-1};
    core::Observable<DisplayMode> displayMode{DisplayMode::aspect};
    core::Observable<bool> audioMuted{false};
    core::Observable<int> qualityMode{0};
    core::Observable<bool> isRecording{false};
    core::Observable<int> monitorCount{1};
    core::Observable<int> monitorIndex{0};
    core::Observable<bool> hasControl{true};
    core::Observable<bool> controlKnown{false};
    core::Observable<std::optional<RemoteCursor>> remoteCursor;

    const std::string& callId() const { return callId_; }
    const std::string& peerId() const { return peerId_; }
    const std::string& peerName() const { return peerName_; }
    const std::string& myId() const { return myId_; }

    // Starts the UDP path and the statistics timer.
    void start();
    void handleBinary(const std::vector<std::uint8_t>& message);
    void ingestSignal(const std::string& kind, const nlohmann::json* payload);

    void requestControl();
    void releaseControl();
    void sendMouseMove(double x, double y);
    void sendMouseBtn(const std::string& button, bool down);
    void sendWheel(int dx, int dy);
    void sendKey(int vk, bool down, bool ext);
    // Sends an "input" message with these event fields (a scripted event, as the senders build them).
    void sendInput(nlohmann::json message);
    void sendQuality(int mode);
    void setAudioMuted(bool muted);
    void cycleMonitor();

    // The session window's notices (see Recording and saveScreenshot).
    std::string toggleRecording();
    std::string startRecordingAt(const std::filesystem::path& path);
    std::string screenshot(const std::optional<std::filesystem::path>& path = std::nullopt);

    // The status line of the latest statistics: "P2P直连 · 1920×1080 · 30 FPS · 300 KB/s · 12ms".
    std::string statusLine() const;
    void close(bool sendBye);
    bool closed() const { return closed_; }

    VideoDecoder& video() { return *video_; }
    transport::PeerLink& link() { return *link_; }
    std::uint64_t framesReceived() const { return framesReceived_; }

private:
    ControlSession(ControlSessionDeps deps, std::string callId, std::string peerId, std::string myId,
        std::string peerName);
    void installLinkCallbacks();
    void handleBody(std::span<const std::uint8_t> body);
    void handlePicture(std::span<const std::uint8_t> payload);
    void handleVideo(std::uint32_t width, std::uint32_t height, std::span<const std::uint8_t> payload);
    void handleAudio(std::span<const std::uint8_t> body);
    void setRemoteSize(int width, int height);
    void statisticsStep();
    bool inputBlocked() const;
    void sendSignal(const std::string& kind, const nlohmann::json* payload);
    template <typename Fn>
    void onMain(Fn fn);
    template <typename Fn>
    void onFrameQueue(Fn fn);

    protocol::MessageSender& sig_;
    ControlMedia& media_;
    core::MainQueue& mainQueue_;
    core::Scheduler& timers_;
    const core::WallClock& wallClock_;
    const std::string callId_;
    const std::string peerId_;
    const std::string myId_;
    const std::string peerName_;
    std::unique_ptr<transport::PeerLink> link_;
    std::shared_ptr<VideoDecoder> video_;
    Recording recording_;

    // Frame queue only.
    std::int64_t rxFrames_ = 0;
    std::int64_t rxBytes_ = 0;
    bool warnedTile_ = false;
    std::unique_ptr<AudioOut> audio_;

    // Copies of published state for the frame queue.
    std::atomic<bool> mutedCopy_{false};
    std::atomic<bool> fallbackShown_{false};
    std::atomic<int> remoteWCopy_{0};
    std::atomic<int> remoteHCopy_{0};
    std::atomic<std::uint64_t> framesReceived_{0};
    std::atomic<bool> closed_{false};

    std::mutex timerMutex_; // guards statsTimer_
    std::unique_ptr<core::RepeatingTimer> statsTimer_;
};

} // namespace tavoro::control
