#include "server/relay_table.h"

#include "platform/fake/manual_clock.h"
#include "platform/fake/sequence_random.h"
#include "support/relay_datagrams.h"
#include "transport/datagram.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace tavoro::server {
namespace {

using namespace std::chrono_literals;
using platform::fake::ManualClock;
using Bytes = std::vector<std::uint8_t>;

const Ipv4Endpoint kAlice{0x0A000001, 40001};
const Ipv4Endpoint kBob{0x0A000002, 40002};
const Ipv4Endpoint kCarol{0x0A000003, 40003};
const std::string kOwner = "100000001";
const std::string kOwnerAddress = "198.51.100.7";

Bytes bindDatagram(const std::string& token) { return test::relayBindDatagram(token); }

Bytes proofFor(const Bytes& challenge) { return test::relayProofFor(challenge); }

Bytes ping(std::uint32_t id)
{
    auto bytes = transport::makePingOrPong(transport::Kind::ping, id);
    return {bytes.begin(), bytes.end()};
}

class RelayTableTest : public ::testing::Test {
protected:
    explicit RelayTableTest(RelayTable::Limits limits = {.bytesPerSecond = 1e9}) : table(clock, random, limits) {}

    // A bind that gets a challenge: the challenge sent to `from`.
    Bytes challengeFor(const Ipv4Endpoint& from, const std::string& token)
    {
        auto route = table.route(from, bindDatagram(token));
        if (!route || route->to != from || route->reply.empty()) {
            ADD_FAILURE() << "no challenge for " << token;
            return {};
        }
        return route->reply;
    }
    // Binds `from` as a transport does: the bind, then the proof its challenge asks for.
    void join(const Ipv4Endpoint& from, const std::string& token)
    {
        EXPECT_EQ(table.route(from, proofFor(challengeFor(from, token))), std::nullopt) << "a proof is never forwarded";
    }
    // Where a datagram from `from` is forwarded, if anywhere.
    std::optional<Ipv4Endpoint> forward(const Ipv4Endpoint& from, const Bytes& datagram)
    {
        auto route = table.route(from, datagram);
        if (route && !route->reply.empty()) {
            ADD_FAILURE() << "a reply instead of a forward";
        }
        return route ? std::optional(route->to) : std::nullopt;
    }
    bool allocate(const std::string& token, const std::string& owner = kOwner,
        const std::string& address = kOwnerAddress)
    {
        return table.allocate(token, owner, address);
    }

    ManualClock clock;
    platform::fake::SequenceRandom random{{0x3C, 0x91, 0x07, 0xEA, 0x55, 0x2B, 0xD8, 0x60, 0x19, 0xA4, 0x7F}};
    RelayTable table;
};

TEST_F(RelayTableTest, ForwardsOnlyAfterBothEndsHaveProvenTheirBindAndThenBothWays)
{
    ASSERT_TRUE(allocate("tok-1"));
    EXPECT_EQ(forward(kAlice, ping(1)), std::nullopt) << "unbound sender";
    join(kAlice, "tok-1");
    EXPECT_EQ(forward(kAlice, ping(2)), std::nullopt) << "no partner yet";
    EXPECT_EQ(table.route(kAlice, bindDatagram("tok-1")), std::nullopt) << "a bound address binding again: no challenge";
    EXPECT_EQ(forward(kAlice, ping(2)), std::nullopt) << "the same address binding twice is not a pair";
    join(kBob, "tok-1");
    EXPECT_EQ(forward(kAlice, ping(3)), kBob);
    EXPECT_EQ(forward(kBob, ping(4)), kAlice);
    EXPECT_EQ(forward(kCarol, ping(5)), std::nullopt) << "a stranger reaches nobody";
}

// A bind's source can be forged: only an address that echoes the nonce sent to it is bound.
TEST_F(RelayTableTest, AnAddressIsBoundOnlyByTheProofOfItsOwnFreshChallenge)
{
    struct Case {
        const char* name;
        std::function<void(Bytes& proof, Ipv4Endpoint& from)> change;
        bool binds;
    };
    const Case cases[] = {
        {"the echoed challenge", [](Bytes&, Ipv4Endpoint&) {}, true},
        {"no answer (a forged bind)", [](Bytes& proof, Ipv4Endpoint&) { proof.clear(); }, false},
        {"another nonce", [](Bytes& proof, Ipv4Endpoint&) { proof[20] ^= 1; }, false},
        {"from another address", [](Bytes&, Ipv4Endpoint& from) { from = kCarol; }, false},
        {"another token", [](Bytes& proof, Ipv4Endpoint&) { proof.back() = '2'; }, false},
        {"the challenge itself", [](Bytes& proof, Ipv4Endpoint&) { proof[5] = 9; }, false},
        {"ten seconds late", [this](Bytes&, Ipv4Endpoint&) { clock.advance(10s); }, false},
        {"just in time", [this](Bytes&, Ipv4Endpoint&) { clock.advance(9s); }, true},
    };
    int round = 0;
    for (const auto& c : cases) {
        const std::string token = "tok-" + std::to_string(++round);
        ASSERT_TRUE(allocate(token, "10000000" + std::to_string(round)));
        join(kAlice, token);
        auto proof = proofFor(challengeFor(kBob, token));
        auto from = kBob;
        c.change(proof, from);
        if (!proof.empty()) {
            table.route(from, proof);
        }
        EXPECT_EQ(forward(kAlice, ping(1)), c.binds ? std::optional(kBob) : std::nullopt) << c.name;
        table.route(kAlice, bindDatagram("other")); // nothing left over for the next case
    }
}

TEST_F(RelayTableTest, ChallengesAreNoLargerThanTheirBindAndRepeatTheirNonceWhilePending)
{
    ASSERT_TRUE(allocate("tok-1"));
    const auto bind = bindDatagram("tok-1");
    const auto first = challengeFor(kBob, "tok-1");
    EXPECT_EQ(first.size(), bind.size());
    const auto parsed = transport::parseRelayChallenge(*transport::parseDatagram(first));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(std::string(parsed->token.begin(), parsed->token.end()), "tok-1");
    EXPECT_EQ(challengeFor(kBob, "tok-1"), first) << "a repeated bind gets the pending nonce again";
    EXPECT_NE(challengeFor(kCarol, "tok-1"), first);

    auto unpadded = bind;
    unpadded.pop_back();
    EXPECT_EQ(table.route(kAlice, unpadded), std::nullopt) << "a bind smaller than its challenge is not answered";
    EXPECT_EQ(table.route(kAlice, bindDatagram("tok-2")), std::nullopt) << "nor one for an unknown token";
}

TEST_F(RelayTableTest, ASessionKeepsItsFourNewestChallenges)
{
    ASSERT_TRUE(allocate("tok-1"));
    join(kAlice, "tok-1");
    const auto oldest = proofFor(challengeFor(kBob, "tok-1"));
    for (std::uint16_t port = 1; port <= 4; ++port) {
        challengeFor({0xC6336401, port}, "tok-1");
    }
    table.route(kBob, oldest);
    EXPECT_EQ(forward(kAlice, ping(1)), std::nullopt);
    join(kBob, "tok-1");
    EXPECT_EQ(forward(kAlice, ping(2)), kBob);
}

TEST_F(RelayTableTest, BindsWithUnknownOrMalformedTokensAreIgnored)
{
    ASSERT_TRUE(allocate("tok-1"));
    EXPECT_EQ(table.route(kAlice, bindDatagram("tok-2")), std::nullopt);
    auto wrongVersion = bindDatagram("tok-1");
    wrongVersion[4] = 2;
    EXPECT_EQ(table.route(kAlice, wrongVersion), std::nullopt);
    auto truncated = bindDatagram("tok-1");
    truncated.resize(transport::kHeaderSize + 4);
    EXPECT_EQ(table.route(kAlice, truncated), std::nullopt);
    EXPECT_EQ(table.boundAddressCount(), 0u);
}

TEST_F(RelayTableTest, AThirdAddressReplacesTheEndSilentTheLongest)
{
    ASSERT_TRUE(allocate("tok-1"));
    join(kAlice, "tok-1");
    join(kBob, "tok-1");
    clock.advance(5s);
    EXPECT_EQ(forward(kBob, ping(1)), kAlice);
    // Alice's NAT mapping changed: she binds again from a new address.
    join(kCarol, "tok-1");
    EXPECT_EQ(forward(kBob, ping(2)), kCarol);
    EXPECT_EQ(forward(kCarol, ping(3)), kBob);
    EXPECT_EQ(forward(kAlice, ping(4)), std::nullopt);
}

TEST_F(RelayTableTest, AnAddressMovesToTheSessionItBindsLast)
{
    ASSERT_TRUE(allocate("tok-1"));
    ASSERT_TRUE(allocate("tok-2"));
    join(kAlice, "tok-1");
    join(kBob, "tok-1");
    join(kAlice, "tok-2");
    join(kCarol, "tok-2");
    EXPECT_EQ(forward(kAlice, ping(1)), kCarol);
    EXPECT_EQ(forward(kBob, ping(2)), std::nullopt);
}

TEST_F(RelayTableTest, IdleSessionsExpireAfterSixtySecondsAndTrafficKeepsThemAlive)
{
    ASSERT_TRUE(allocate("quiet"));
    ASSERT_TRUE(allocate("busy"));
    join(kAlice, "busy");
    join(kBob, "busy");
    for (int i = 0; i < 7; ++i) {
        clock.advance(10s);
        forward(kAlice, ping(static_cast<std::uint32_t>(i)));
        table.expire();
    }
    EXPECT_EQ(table.sessionCount(), 1u);
    EXPECT_EQ(forward(kAlice, ping(99)), kBob);
    clock.advance(60s);
    EXPECT_EQ(table.expire(), 1u);
    EXPECT_EQ(table.sessionCount(), 0u);
    EXPECT_EQ(table.boundAddressCount(), 0u);
    EXPECT_EQ(forward(kAlice, ping(100)), std::nullopt);
}

TEST_F(RelayTableTest, StandingSessionsStayButForgetIdleBindings)
{
    ASSERT_TRUE(table.allocateStanding("fixed"));
    join(kAlice, "fixed");
    join(kBob, "fixed");
    clock.advance(61s);
    table.expire();
    EXPECT_EQ(table.sessionCount(), 1u);
    EXPECT_EQ(forward(kAlice, ping(1)), std::nullopt);
    join(kCarol, "fixed");
    join(kAlice, "fixed");
    EXPECT_EQ(forward(kAlice, ping(2)), kCarol);
}

TEST_F(RelayTableTest, RejectsDuplicateEmptyAndOverlongTokensAndOwnerlessAllocations)
{
    EXPECT_TRUE(allocate("tok"));
    EXPECT_FALSE(allocate("tok", "100000002"));
    EXPECT_FALSE(allocate(""));
    EXPECT_FALSE(allocate(std::string(81, 'x')));
    EXPECT_FALSE(allocate("tok-2", ""));
    EXPECT_TRUE(allocate(std::string(80, 'x')));
}

// An owner (a device) and an owner address share one rule: at the limit, the least recently active
// session that does not relay makes room; when all relay, the allocation is refused.
TEST(RelayTableLimits, AtTheDeviceOrAddressLimitAnIdleSessionMakesRoomButARelayingOneNever)
{
    struct Case {
        const char* name;
        RelayTable::Limits limits;
        std::function<std::pair<std::string, std::string>(int)> ownerAndAddress; // for the n-th allocation
    };
    const Case cases[] = {
        {"per device", {.maxSessionsPerOwner = 2, .maxSessionsPerAddress = 100},
            [](int n) { return std::pair{std::string("100000001"), "198.51.100." + std::to_string(n)}; }},
        {"per address", {.maxSessionsPerOwner = 100, .maxSessionsPerAddress = 2},
            [](int n) { return std::pair{"10000000" + std::to_string(n), std::string("198.51.100.7")}; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ManualClock clock;
        platform::fake::SequenceRandom random{{1, 2, 3, 5, 8, 13}};
        RelayTable table(clock, random, c.limits);
        const auto allocate = [&](const std::string& token, int n) {
            const auto [owner, address] = c.ownerAndAddress(n);
            return table.allocate(token, owner, address);
        };
        const auto join = [&](const Ipv4Endpoint& from, const std::string& token) {
            auto route = table.route(from, bindDatagram(token));
            ASSERT_TRUE(route);
            table.route(from, proofFor(route->reply));
        };
        ASSERT_TRUE(allocate("a", 1));
        clock.advance(1s);
        ASSERT_TRUE(allocate("b", 2));
        clock.advance(1s);
        join(kAlice, "a"); // "a" is now the more recently active one
        ASSERT_TRUE(allocate("c", 3));
        EXPECT_EQ(table.sessionCount(), 2u) << "b made room";
        EXPECT_EQ(table.route(kBob, bindDatagram("b")), std::nullopt);

        join(kBob, "a");
        join(kCarol, "c");
        join({0x0A000004, 4}, "c");
        EXPECT_FALSE(allocate("d", 4)) << "both relay";
        EXPECT_EQ(table.route(kAlice, ping(1))->to, kBob);
        ASSERT_TRUE(table.allocate("e", "100000009", "203.0.113.9")) << "others are not affected";
    }
}

TEST(RelayTableLimits, TheRateCapDropsWhatExceedsTheSessionBudget)
{
    ManualClock clock;
    platform::fake::SequenceRandom random{{7}};
    RelayTable table(clock, random, {.bytesPerSecond = 1'000'000}); // burst: 256 KiB
    ASSERT_TRUE(table.allocate("tok", kOwner, kOwnerAddress));
    for (const auto& end : {kAlice, kBob}) {
        table.route(end, proofFor(table.route(end, bindDatagram("tok"))->reply));
    }
    const Bytes datagram(1116, 0xAB);
    const auto passedOf1000From = [&](const Ipv4Endpoint& from) {
        int passed = 0;
        for (int i = 0; i < 1000; ++i) {
            passed += table.route(from, datagram) ? 1 : 0;
        }
        return passed;
    };
    EXPECT_EQ(passedOf1000From(kAlice), 256 * 1024 / 1116);
    clock.advance(100ms); // refills 100,000 bytes
    EXPECT_EQ(passedOf1000From(kBob), (256 * 1024 % 1116 + 100'000) / 1116) << "the refill plus what was left";
}

} // namespace
} // namespace tavoro::server
