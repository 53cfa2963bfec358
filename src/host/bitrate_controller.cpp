#include "host/bitrate_controller.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace tavoro::host {
namespace {

constexpr auto kFallbackDelay = std::chrono::seconds(3);
constexpr auto kHold = std::chrono::seconds(2);
constexpr float kOldWeight = 0.7f;
constexpr float kNewWeight = 0.3f;
constexpr double kKeep = 0.75;
constexpr double kBlend = 0.25;
constexpr std::int64_t kMinBps = 500'000;
constexpr std::int64_t kMaxBps = 40'000'000;
constexpr int kSmallestChangeKbps = 101;

std::string pathName(bool relayed) { return relayed ? "UDP中继" : "P2P直连"; }

} // namespace

float ladderTargetBps(float e)
{
    if (e <= 10) {
        return 40'000'000.0f;
    }
    if (e < 30) {
        return 40'000'000.0f - 20'000'000.0f * (e - 10) / 20;
    }
    if (e == 30) {
        return 20'000'000.0f;
    }
    if (e < 60) {
        return 20'000'000.0f - 11'000'000.0f * (e - 30) / 30;
    }
    if (e == 60) {
        return 9'000'000.0f;
    }
    if (e < 100) {
        return 6'000'000.0f - 2'500'000.0f * (e - 60) / 40;
    }
    if (e < 180) {
        return 3'500'000.0f - 1'500'000.0f * (e - 100) / 80;
    }
    if (e < 300) {
        return 2'000'000.0f - 1'000'000.0f * (e - 180) / 120;
    }
    return 1'000'000.0f;
}

void BitrateController::set(int kbps)
{
    currentKbps_ = kbps;
    pendingKbps_ = kbps;
}

std::optional<int> BitrateController::takePending()
{
    auto pending = pendingKbps_;
    pendingKbps_.reset();
    return pending;
}

int BitrateController::applyQuality(int mode)
{
    const int kbps = mode == 1 ? (capped() ? kRelayCapKbps : kQualityKbps) : kSpeedKbps;
    set(kbps);
    return kbps;
}

std::optional<std::string> BitrateController::capForViewers()
{
    if (currentKbps_ <= kRelayCapKbps) {
        return std::nullopt;
    }
    set(kRelayCapKbps);
    return "Tavoro host: 多控观看走 WS 中转，码率限至 " + std::to_string(kRelayCapKbps) + " kbps (服务器出口 ~5Mbps)";
}

std::optional<std::string> BitrateController::setViewersAttached(bool attached)
{
    viewersAttached_ = attached;
    return attached ? capForViewers() : std::nullopt;
}

std::vector<std::string> BitrateController::adapt(const LinkReading& link, core::SteadyTime now)
{
    std::vector<std::string> lines;
    if (!link.connected) {
        if (!wsCapped_ && now - p2pStartedAt_ >= kFallbackDelay) {
            wsCapped_ = true;
            adaptStartedAt_ = now;
            emaRttMs_ = 0;
            if (currentKbps_ > kRelayCapKbps) {
                set(kRelayCapKbps);
                lines.push_back("Tavoro host: P2P 3 秒未连通 → WS 中转，码率限至 " + std::to_string(kRelayCapKbps) +
                    " kbps (服务器出口 ~5Mbps)");
            }
        }
        return lines;
    }
    if (wsCapped_) {
        wsCapped_ = false;
        lines.push_back(std::string("Tavoro host: P2P 已连通 (") + (link.relayed ? "UDP 中继" : "直连") +
            ")，切 RTT 阶梯调速");
    }
    if (link.rttMs < 0) {
        return lines;
    }
    if (!adaptStartedAt_) {
        adaptStartedAt_ = now;
    }
    const float e = emaRttMs_ <= 0 ? static_cast<float>(link.rttMs)
                                   : kOldWeight * emaRttMs_ + kNewWeight * static_cast<float>(link.rttMs);
    emaRttMs_ = e;
    const double blended = currentKbps_ * 1000.0 * kKeep + static_cast<double>(ladderTargetBps(e)) * kBlend;
    std::int64_t bps = std::clamp(static_cast<std::int64_t>(std::trunc(blended)), kMinBps, kMaxBps);
    if (viewersAttached_) {
        bps = std::min<std::int64_t>(bps, kRelayCapKbps * 1000);
    }
    if (now - *adaptStartedAt_ < kHold) {
        return lines;
    }
    const int kbps = static_cast<int>(bps / 1000);
    if (std::abs(kbps - currentKbps_) < kSmallestChangeKbps) {
        return lines;
    }
    set(kbps);
    lines.push_back("Tavoro host: 自适应码率 → " + std::to_string(kbps) + " kbps (RTT " +
        std::to_string(static_cast<int>(e)) + "ms, " + pathName(link.relayed) + ")");
    return lines;
}

} // namespace tavoro::host
