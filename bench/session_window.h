#pragma once

// Measuring a hosted session for a while: the host's CPU, its target bitrate as its log states it, and
// what the primary controller received. For the host's benchmark driver; test thread only.
#include "process_cpu.h"

#include "support/hosting_fixture.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <unistd.h>

namespace tavoro::bench {

constexpr int kStartKbps = 8000;

using Clock = std::chrono::steady_clock;

inline double secondsOf(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The host's target bitrate as its log tells it: the start value, then every adaptive step, quality
// preference and relay cap.
class TargetBitrate {
public:
    explicit TargetBitrate(const test::ChildProcess& host) : host_(host) {}

    int kbps()
    {
        const auto lines = host_.stderrLines();
        for (; seen_ < lines.size(); ++seen_) {
            if (auto value = targetIn(lines[seen_])) {
                kbps_ = *value;
            }
        }
        return kbps_;
    }

private:
    static std::optional<int> numberBefore(const std::string& line, const std::string& after, const std::string& suffix)
    {
        const auto at = line.find(after);
        if (at == std::string::npos) {
            return std::nullopt;
        }
        const auto from = at + after.size();
        const auto end = line.find(suffix, from);
        return end == std::string::npos ? std::nullopt : std::optional<int>(std::stoi(line.substr(from, end - from)));
    }

    static std::optional<int> targetIn(const std::string& line)
    {
        if (auto adaptive = numberBefore(line, "自适应码率 → ", " kbps")) {
            return adaptive;
        }
        if (auto preferred = numberBefore(line, "(生效 ", " kbps)")) {
            return preferred;
        }
        return numberBefore(line, "码率限至 ", " kbps");
    }

    const test::ChildProcess& host_;
    std::size_t seen_ = 0;
    int kbps_ = kStartKbps;
};

// What one measuring window saw: the host's CPU, its target bitrate and what the primary received.
struct Window {
    double seconds = 0;
    double hostCpuPercent = 0; // of one core
    double meanTargetKbps = 0; // weighted by time
    int lowestTargetKbps = 0;
    int highestTargetKbps = 0;
    int frames = 0;
    int framesOverUdp = 0;
    double receivedKbps = 0;
    double benchCpuPercent = 0; // this process: the scripted controllers and the screen mover

    double framesPerSecond() const { return frames / seconds; }
    double cpuMsPerFrame() const { return frames > 0 ? 10 * hostCpuPercent * seconds / frames : 0; }
};

inline Window measure(test::HostingSetup& setup, TargetBitrate& target, const test::ScriptedController& primary,
    Clock::duration length = std::chrono::seconds(10))
{
    const pid_t pid = setup.host->pid();
    Window window;
    window.lowestTargetKbps = window.highestTargetKbps = target.kbps();
    const double cpuBefore = processCpuSeconds(pid);
    const double benchBefore = processCpuSeconds(::getpid());
    const int relayedBefore = primary.framesRelayed();
    const int udpBefore = primary.framesOverUdp();
    const auto bytesBefore = primary.bytesReceived();
    const auto start = Clock::now();
    double weighted = 0;
    for (auto last = start; last - start < length;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const auto now = Clock::now();
        const int kbps = target.kbps();
        weighted += kbps * secondsOf(now - last);
        window.lowestTargetKbps = std::min(window.lowestTargetKbps, kbps);
        window.highestTargetKbps = std::max(window.highestTargetKbps, kbps);
        last = now;
    }
    window.seconds = secondsOf(Clock::now() - start);
    window.hostCpuPercent = 100 * (processCpuSeconds(pid) - cpuBefore) / window.seconds;
    window.benchCpuPercent = 100 * (processCpuSeconds(::getpid()) - benchBefore) / window.seconds;
    window.meanTargetKbps = weighted / window.seconds;
    window.framesOverUdp = primary.framesOverUdp() - udpBefore;
    window.frames = window.framesOverUdp + primary.framesRelayed() - relayedBefore;
    window.receivedKbps = static_cast<double>(primary.bytesReceived() - bytesBefore) * 8 / 1000 / window.seconds;
    return window;
}

inline void printWindow(const char* label, const Window& window)
{
    std::printf("  %-24s host CPU %5.1f %% = %4.1f ms/frame | %4.1f frames/s to the primary (%d of %d over UDP) | "
                "target %5.0f kbit/s (%d..%d) | received %5.0f kbit/s | this process %4.1f %%\n",
        label, window.hostCpuPercent, window.cpuMsPerFrame(), window.framesPerSecond(), window.framesOverUdp,
        window.frames, window.meanTargetKbps, window.lowestTargetKbps, window.highestTargetKbps, window.receivedKbps,
        window.benchCpuPercent);
}

} // namespace tavoro::bench
