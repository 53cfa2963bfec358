#pragma once

#include "core/clock.h"

#include <optional>
#include <string>
#include <vector>

namespace tavoro::host {

// What one adaptation step reads of the peer transport.
struct LinkReading {
    bool connected = false; // the UDP path to the primary controller is up
    int rttMs = -1;         // latest round-trip time; negative while none was measured
    bool relayed = false;   // media go through the call's UDP relay
};

// The RTT ladder: the target bitrate in bit/s for a smoothed round-trip time in ms.
float ladderTargetBps(float smoothedRttMs);

// Chooses the encoder's target bitrate: a ladder of round-trip times while the UDP path is up,
// a cap at the rendezvous server's capacity when the stream has to go through it (no UDP path
// within 3 s, or a viewer attached, since viewers always receive through the server).
//
// Pure logic on the times it is given; not thread-safe. The host session keeps one under its
// `mcLock` and writes the returned log lines after releasing that lock.
class BitrateController {
public:
    static constexpr int kInitialKbps = 8000;
    static constexpr int kRelayCapKbps = 5000;
    static constexpr int kQualityKbps = 20000;
    static constexpr int kSpeedKbps = 3000;

    explicit BitrateController(core::SteadyTime createdAt) : p2pStartedAt_(createdAt) {}

    // The peer transport was (re)started now: the 3-second fallback counts from here.
    void transportStarted(core::SteadyTime now) { p2pStartedAt_ = now; }

    // A quality preference (1 = quality first, anything else = speed first). Returns the bitrate set.
    int applyQuality(int mode);

    // Whether any controller besides the primary is attached. Returns the log line of a new cap.
    std::optional<std::string> setViewersAttached(bool attached);

    // One step of the once-a-second adaptation. Returns the log lines to write, in order.
    std::vector<std::string> adapt(const LinkReading& link, core::SteadyTime now);

    int currentKbps() const { return currentKbps_; }
    // The bitrate still to be applied to the running encoder, cleared by taking it.
    std::optional<int> takePending();
    bool wsCapped() const { return wsCapped_; }
    float smoothedRttMs() const { return emaRttMs_; }

private:
    bool capped() const { return wsCapped_ || viewersAttached_; }
    void set(int kbps);
    std::optional<std::string> capForViewers();

    int currentKbps_ = kInitialKbps;
    std::optional<int> pendingKbps_;
    float emaRttMs_ = 0;
    std::optional<core::SteadyTime> adaptStartedAt_;
    bool wsCapped_ = false;
    bool viewersAttached_ = false;
    core::SteadyTime p2pStartedAt_;
};

} // namespace tavoro::host
