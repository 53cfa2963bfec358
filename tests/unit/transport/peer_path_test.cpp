#include "transport/peer_path.h"

#include <gtest/gtest.h>

namespace tavoro::transport {
namespace {

using schedule::RoundStep;

const Endpoint kA{0x0A000001, 4000};
const Endpoint kB{0x0A000002, 4000};
const Endpoint kRelay{0xC0000201, 3479};

TEST(PeerPath, StoresEachCandidateOnceAndCountsOnlyNewOnes)
{
    PeerPath path;
    EXPECT_EQ(path.addCandidates({kA, kB, kA}), 2);
    EXPECT_EQ(path.addCandidates({kB}), 0);
    EXPECT_EQ(path.remoteCands, (std::vector<Endpoint>{kA, kB}));
}

TEST(PeerPath, PingLearnsItsSourceAndSelectsOnlyWhenThePathIsDown)
{
    PeerPath path;
    path.relayEp = kRelay;
    EXPECT_FALSE(path.acceptsInputFrom(kRelay)) << "input only from the selected address";
    auto arrival = path.pingFrom(kRelay, 0);
    EXPECT_FALSE(arrival.wasConnected);
    EXPECT_TRUE(arrival.viaRelay);
    EXPECT_TRUE(path.connected);
    EXPECT_EQ(path.selected, kRelay);
    EXPECT_EQ(path.remoteCands, std::vector<Endpoint>{kRelay});
    arrival = path.pingFrom(kA, 0);
    EXPECT_TRUE(arrival.wasConnected);
    EXPECT_FALSE(arrival.viaRelay);
    EXPECT_EQ(path.selected, kRelay);
    EXPECT_TRUE(path.acceptsInputFrom(kRelay));
    EXPECT_FALSE(path.acceptsInputFrom(kA));
}

TEST(PeerPath, PongAlwaysSelectsItsSourceAndConnects)
{
    PeerPath path;
    auto arrival = path.pongFrom(kA, std::nullopt, 0);
    EXPECT_FALSE(arrival.wasConnected);
    EXPECT_TRUE(path.connected);
    EXPECT_EQ(path.selected, kA);
    arrival = path.pongFrom(kB, std::nullopt, 0);
    EXPECT_TRUE(arrival.wasConnected);
    EXPECT_EQ(path.selected, kB);
    EXPECT_TRUE(path.acceptsInputFrom(kB));
    EXPECT_FALSE(path.acceptsInputFrom(kA));
    EXPECT_FALSE(path.acceptsInputFrom({kB.address, 4001}));
}

// Pings 1 to 17 go out every 300 ms from 1000 ms on; the last one leaves at 5800 ms.
TEST(PeerPath, TimesAPongAnsweringAnyOfTheLast16Pings)
{
    struct Case {
        const char* name;
        std::optional<std::uint32_t> answered;
        int rttMs;
    };
    const Case cases[] = {
        {"the latest ping", 17, 50},
        {"a ping three rounds back", 15, 650},
        {"the oldest ping still held", 2, 4550},
        {"a ping pushed out by 16 later ones", 1, -1},
        {"an id never sent", 18, -1},
        {"no id in the payload", std::nullopt, -1},
    };
    for (const auto& c : cases) {
        PeerPath path;
        for (std::uint64_t sentMs = 1000; sentMs <= 5800; sentMs += 300) {
            path.takePingId(sentMs);
        }
        path.pongFrom(kA, c.answered, 5850);
        EXPECT_EQ(path.rttMs, c.rttMs) << c.name;
    }
}

TEST(PeerPath, TimesEachPingOnce)
{
    PeerPath path;
    const auto id = path.takePingId(1000);
    path.pongFrom(kA, id, 1020);
    path.pongFrom(kA, id, 1400); // a duplicate
    EXPECT_EQ(path.rttMs, 20);
}

// The path comes up through a ping from A at 10 000 ms.
TEST(PeerPath, GoesDownAfterThreeSecondsWithoutADatagramFromTheSelectedAddress)
{
    struct Case {
        const char* name;
        std::optional<Endpoint> heard; // a datagram at 12 000 ms
        std::uint64_t checkedMs;
        bool expired;
    };
    const Case cases[] = {
        {"silent just under 3 s", std::nullopt, 12'999, false},
        {"silent for 3 s", std::nullopt, 13'000, true},
        {"heard at 12 s, silent just under 3 s since", kA, 14'999, false},
        {"heard at 12 s, silent for 3 s since", kA, 15'000, true},
        {"another address does not count", kB, 13'000, true},
    };
    for (const auto& c : cases) {
        PeerPath path;
        path.pingFrom(kA, 10'000);
        if (c.heard) {
            path.heardFrom(*c.heard, 12'000);
        }
        EXPECT_EQ(path.expireIfSilent(c.checkedMs), c.expired) << c.name;
        EXPECT_EQ(path.connected, !c.expired) << c.name;
    }
}

TEST(PeerPath, ADownPathPingsEverythingAgainAndComesBackWithTheFirstAddressHeard)
{
    PeerPath path;
    EXPECT_FALSE(path.expireIfSilent(1'000'000)); // never up: nothing to take down
    path.remoteCands = {kA, kB};
    path.relayEnabled = true;
    path.relayEp = kRelay;
    path.pongFrom(kA, std::nullopt, 10'000);
    ASSERT_TRUE(path.expireIfSilent(13'000));
    EXPECT_FALSE(path.expireIfSilent(20'000)); // reported once
    EXPECT_EQ(path.selected, kA);
    EXPECT_EQ(schedule::planRound(path, 5000, 13'000, 0),
        (std::vector<RoundStep>{{RoundStep::Action::ping, kA}, {RoundStep::Action::ping, kB},
            {RoundStep::Action::relayBind, kRelay}, {RoundStep::Action::ping, kRelay}}));

    const auto arrival = path.pingFrom(kRelay, 20'000);
    EXPECT_FALSE(arrival.wasConnected);
    EXPECT_TRUE(path.connected);
    EXPECT_EQ(path.selected, kRelay);
    EXPECT_FALSE(path.expireIfSilent(22'999)); // silence counts from the return
    EXPECT_TRUE(path.expireIfSilent(23'000));
}

TEST(PeerPath, PingIdsWrapAround)
{
    PeerPath path;
    path.nextPing = 0xFFFFFFFF;
    EXPECT_EQ(path.takePingId(0), 0xFFFFFFFFu);
    EXPECT_EQ(path.takePingId(0), 0u);
}

TEST(Schedule, StunRepeatsEvery250MsOnlyWithoutAnAnswerAndWithinTheFirst2500Ms)
{
    EXPECT_TRUE(schedule::stunDue(false, 0, 5000, 0));
    EXPECT_FALSE(schedule::stunDue(false, 249, 5249, 5000));
    EXPECT_TRUE(schedule::stunDue(false, 250, 5250, 5000));
    EXPECT_FALSE(schedule::stunDue(true, 250, 5250, 5000));
    EXPECT_FALSE(schedule::stunDue(false, 2500, 7500, 5000));
}

TEST(Schedule, PingRoundsEvery100MsForTwoSecondsThenEvery300Ms)
{
    EXPECT_TRUE(schedule::pingRoundDue(0, 5000, 0));
    EXPECT_FALSE(schedule::pingRoundDue(1999, 6999, 6900 + 1));
    EXPECT_TRUE(schedule::pingRoundDue(1999, 6999, 6899));
    EXPECT_FALSE(schedule::pingRoundDue(2000, 7000, 6800));
    EXPECT_TRUE(schedule::pingRoundDue(2000, 7000, 6700));
}

TEST(Schedule, UnconnectedRoundPingsEveryCandidateThenTheRelayFromOneSecond)
{
    PeerPath path;
    path.remoteCands = {kA, kB};
    path.relayEnabled = true;
    path.relayEp = kRelay;
    const std::vector<RoundStep> early{{RoundStep::Action::ping, kA}, {RoundStep::Action::ping, kB}};
    EXPECT_EQ(schedule::planRound(path, 999, 5999, 0), early);
    auto late = early;
    late.push_back({RoundStep::Action::relayBind, kRelay});
    late.push_back({RoundStep::Action::ping, kRelay});
    EXPECT_EQ(schedule::planRound(path, 1000, 6000, 0), late);
    EXPECT_EQ(schedule::planRound(path, 1100, 6100, 6000), late); // every round until connected
}

TEST(Schedule, ConnectedRoundPingsTheSelectedAddressAndRefreshesTheRelayEveryTwoSeconds)
{
    PeerPath path;
    path.remoteCands = {kA, kRelay};
    path.relayEnabled = true;
    path.relayEp = kRelay;
    path.connected = true;
    path.selected = kA;
    EXPECT_EQ(schedule::planRound(path, 3000, 8000, 0), (std::vector<RoundStep>{{RoundStep::Action::ping, kA}}));
    path.selected = kRelay;
    const std::vector<RoundStep> pingOnly{{RoundStep::Action::ping, kRelay}};
    EXPECT_EQ(schedule::planRound(path, 3000, 8000, 6001), pingOnly);
    EXPECT_EQ(schedule::planRound(path, 3000, 8000, 6000),
        (std::vector<RoundStep>{{RoundStep::Action::ping, kRelay}, {RoundStep::Action::relayBind, kRelay}}));
    path.selected.reset();
    EXPECT_TRUE(schedule::planRound(path, 3000, 8000, 0).empty());
}

} // namespace
} // namespace tavoro::transport
