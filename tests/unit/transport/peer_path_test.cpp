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

TEST(PeerPath, PingLearnsItsSourceAndSelectsOnlyWhenNothingIsSelected)
{
    PeerPath path;
    path.relayEp = kRelay;
    auto arrival = path.pingFrom(kRelay);
    EXPECT_FALSE(arrival.wasConnected);
    EXPECT_TRUE(arrival.viaRelay);
    EXPECT_TRUE(path.connected);
    EXPECT_EQ(path.selected, kRelay);
    EXPECT_EQ(path.remoteCands, std::vector<Endpoint>{kRelay});
    arrival = path.pingFrom(kA);
    EXPECT_TRUE(arrival.wasConnected);
    EXPECT_FALSE(arrival.viaRelay);
    EXPECT_EQ(path.selected, kRelay);
}

TEST(PeerPath, PongAlwaysSelectsItsSourceAndTimesOnlyTheLastPing)
{
    PeerPath path;
    EXPECT_EQ(path.takePingId(1000), 1u);
    EXPECT_EQ(path.takePingId(1010), 2u);
    auto arrival = path.pongFrom(kA, 1, 1050); // not the last ping
    EXPECT_FALSE(arrival.wasConnected);
    EXPECT_TRUE(path.connected);
    EXPECT_EQ(path.selected, kA);
    EXPECT_EQ(path.rttMs, -1);
    path.pongFrom(kB, std::nullopt, 1060); // no id in the payload
    EXPECT_EQ(path.selected, kB);
    EXPECT_EQ(path.rttMs, -1);
    arrival = path.pongFrom(kA, 2, 1033);
    EXPECT_TRUE(arrival.wasConnected);
    EXPECT_EQ(path.selected, kA);
    EXPECT_EQ(path.rttMs, 23);
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
