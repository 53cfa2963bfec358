#include "host/bitrate_controller.h"

#include <gtest/gtest.h>

namespace tavoro::host {
namespace {

using namespace std::chrono_literals;

const core::SteadyTime t0{std::chrono::hours(1)};

LinkReading up(int rttMs, bool relayed = false) { return {true, rttMs, relayed}; }
const LinkReading down{false, -1, false};

// Runs one step a second from t0 + `from` seconds and collects the bitrate after each.
std::vector<int> steps(BitrateController& bitrate, const LinkReading& link, int count, int from = 0)
{
    std::vector<int> seen;
    for (int i = 0; i < count; ++i) {
        bitrate.adapt(link, t0 + std::chrono::seconds(from + i));
        seen.push_back(bitrate.currentKbps());
    }
    return seen;
}

TEST(BitrateLadder, TargetsAtTheRungs)
{
    EXPECT_EQ(ladderTargetBps(5), 40'000'000);
    EXPECT_EQ(ladderTargetBps(20), 30'000'000);
    EXPECT_EQ(ladderTargetBps(30), 20'000'000);
    EXPECT_EQ(ladderTargetBps(60), 9'000'000);
    EXPECT_NEAR(ladderTargetBps(60.5f), 5'968'750, 1);
    EXPECT_EQ(ladderTargetBps(100), 3'500'000);
    EXPECT_EQ(ladderTargetBps(180), 2'000'000);
    EXPECT_EQ(ladderTargetBps(300), 1'000'000);
    EXPECT_EQ(ladderTargetBps(5000), 1'000'000);
}

TEST(BitrateController, ClimbsAQuarterOfTheWayAfterTheHold)
{
    BitrateController bitrate(t0);
    // The first sample starts the 2 s hold: two steps only smooth the RTT.
    EXPECT_EQ(steps(bitrate, up(10), 6), (std::vector<int>{8000, 8000, 16000, 22000, 26500, 29875}));

    BitrateController slow(t0);
    EXPECT_EQ(steps(slow, up(300), 3).back(), 6250);
}

TEST(BitrateController, SmoothsRttAndSkipsSmallChanges)
{
    BitrateController bitrate(t0);
    bitrate.adapt(up(50), t0);
    EXPECT_FLOAT_EQ(bitrate.smoothedRttMs(), 50);
    bitrate.adapt(up(20), t0 + 1s);
    EXPECT_FLOAT_EQ(bitrate.smoothedRttMs(), 41);

    // 8000 against a 9 Mbit/s target: the 250 kbit/s step is taken, the next 187 too, then it stops
    // once a step would be 100 kbit/s or less.
    BitrateController near(t0);
    auto seen = steps(near, up(60), 12);
    EXPECT_EQ(seen[2], 8250);
    EXPECT_LT(seen.back(), 9000 - 300);
    EXPECT_EQ(seen.back(), seen[seen.size() - 2]);
}

TEST(BitrateController, NoRttSampleChangesNothing)
{
    BitrateController bitrate(t0);
    EXPECT_TRUE(bitrate.adapt(up(-1), t0 + 10s).empty());
    EXPECT_EQ(bitrate.currentKbps(), 8000);
    EXPECT_FALSE(bitrate.takePending());
}

TEST(BitrateController, CapsAtTheRelayAfterThreeSecondsWithoutUdp)
{
    BitrateController bitrate(t0);
    bitrate.applyQuality(1);
    ASSERT_EQ(bitrate.takePending(), 20000);
    EXPECT_TRUE(bitrate.adapt(down, t0 + 2999ms).empty());
    const auto lines = bitrate.adapt(down, t0 + 3s);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "Tavoro host: P2P 3 秒未连通 → WS 中转，码率限至 5000 kbps (服务器出口 ~5Mbps)");
    EXPECT_EQ(bitrate.takePending(), 5000);
    EXPECT_TRUE(bitrate.adapt(down, t0 + 4s).empty()); // once per capped period

    EXPECT_EQ(bitrate.applyQuality(1), 5000);
    EXPECT_EQ(bitrate.applyQuality(2), 3000);
}

TEST(BitrateController, CapBelowTheLimitIsSilent)
{
    BitrateController bitrate(t0);
    bitrate.applyQuality(2);
    EXPECT_TRUE(bitrate.adapt(down, t0 + 3s).empty());
    EXPECT_TRUE(bitrate.wsCapped());
    EXPECT_EQ(bitrate.currentKbps(), 3000);
}

TEST(BitrateController, PathBackAfterTheCapAdaptsAtOnce)
{
    BitrateController bitrate(t0);
    bitrate.adapt(down, t0 + 3s);
    const auto back = bitrate.adapt(up(10, true), t0 + 5s); // the hold ran from the cap
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0], "Tavoro host: P2P 已连通 (UDP 中继)，切 RTT 阶梯调速");
    EXPECT_EQ(back[1], "Tavoro host: 自适应码率 → 13750 kbps (RTT 10ms, UDP中继)");
}

TEST(BitrateController, LostPathCapsOnTheNextTick)
{
    BitrateController bitrate(t0);
    steps(bitrate, up(10), 4);
    EXPECT_FALSE(bitrate.adapt(down, t0 + 10s).empty());
    EXPECT_EQ(bitrate.currentKbps(), 5000);
}

TEST(BitrateController, ViewersKeepTheStreamWithinTheRelayCap)
{
    BitrateController bitrate(t0);
    steps(bitrate, up(10), 5);
    ASSERT_GT(bitrate.currentKbps(), 5000);
    EXPECT_TRUE(bitrate.setViewersAttached(true).has_value());
    EXPECT_EQ(bitrate.currentKbps(), 5000);
    EXPECT_EQ(steps(bitrate, up(10), 3, 5).back(), 5000);
    EXPECT_EQ(bitrate.applyQuality(1), 5000);

    EXPECT_FALSE(bitrate.setViewersAttached(false).has_value());
    EXPECT_GT(steps(bitrate, up(10), 1, 8).back(), 5000);
}

} // namespace
} // namespace tavoro::host
