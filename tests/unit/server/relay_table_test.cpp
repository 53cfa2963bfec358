#include "server/relay_table.h"

#include "platform/fake/manual_clock.h"
#include "transport/datagram.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavoro::server {
namespace {

using namespace std::chrono_literals;
using platform::fake::ManualClock;

const Ipv4Endpoint kAlice{0x0A000001, 40001};
const Ipv4Endpoint kBob{0x0A000002, 40002};
const Ipv4Endpoint kCarol{0x0A000003, 40003};

std::vector<std::uint8_t> bindDatagram(const std::string& token)
{
    std::vector<std::uint8_t> out(transport::kHeaderSize + transport::kMaxRelayTokenBytes);
    const auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(token.data()), token.size());
    out.resize(transport::writeRelayBind(out, bytes));
    return out;
}

std::vector<std::uint8_t> ping(std::uint32_t id)
{
    auto bytes = transport::makePingOrPong(transport::Kind::ping, id);
    return {bytes.begin(), bytes.end()};
}

class RelayTableTest : public ::testing::Test {
protected:
    ManualClock clock;
    RelayTable table{clock, RelayTable::Limits{.bytesPerSecond = 1e9}};
};

TEST_F(RelayTableTest, ForwardsOnlyAfterBothEndsHaveBoundAndThenBothWays)
{
    ASSERT_TRUE(table.allocate("tok-1", "100000001"));
    EXPECT_EQ(table.route(kAlice, ping(1)), std::nullopt) << "unbound sender";
    EXPECT_EQ(table.route(kAlice, bindDatagram("tok-1")), std::nullopt) << "a bind is never forwarded";
    EXPECT_EQ(table.route(kAlice, ping(2)), std::nullopt) << "no partner yet";
    table.route(kAlice, bindDatagram("tok-1"));
    EXPECT_EQ(table.route(kAlice, ping(2)), std::nullopt) << "the same address binding twice is not a pair";
    EXPECT_EQ(table.route(kBob, bindDatagram("tok-1")), std::nullopt);
    EXPECT_EQ(table.route(kAlice, ping(3)), kBob);
    EXPECT_EQ(table.route(kBob, ping(4)), kAlice);
    EXPECT_EQ(table.route(kCarol, ping(5)), std::nullopt) << "a stranger reaches nobody";
}

TEST_F(RelayTableTest, BindsWithUnknownOrMalformedTokensAreIgnored)
{
    ASSERT_TRUE(table.allocate("tok-1", "100000001"));
    table.route(kAlice, bindDatagram("tok-2"));
    table.route(kBob, bindDatagram("tok-2"));
    EXPECT_EQ(table.route(kAlice, ping(1)), std::nullopt);
    EXPECT_EQ(table.boundAddressCount(), 0u);

    auto wrongVersion = bindDatagram("tok-1");
    wrongVersion[4] = 2;
    table.route(kAlice, wrongVersion);
    auto truncated = bindDatagram("tok-1");
    truncated.pop_back();
    table.route(kAlice, truncated);
    EXPECT_EQ(table.boundAddressCount(), 0u);
}

TEST_F(RelayTableTest, AThirdAddressReplacesTheEndSilentTheLongest)
{
    ASSERT_TRUE(table.allocate("tok-1", "100000001"));
    table.route(kAlice, bindDatagram("tok-1"));
    table.route(kBob, bindDatagram("tok-1"));
    clock.advance(5s);
    EXPECT_EQ(table.route(kBob, ping(1)), kAlice);
    // Alice's NAT mapping changed: she binds again from a new address.
    table.route(kCarol, bindDatagram("tok-1"));
    EXPECT_EQ(table.route(kBob, ping(2)), kCarol);
    EXPECT_EQ(table.route(kCarol, ping(3)), kBob);
    EXPECT_EQ(table.route(kAlice, ping(4)), std::nullopt);
}

TEST_F(RelayTableTest, AnAddressMovesToTheSessionItBindsLast)
{
    ASSERT_TRUE(table.allocate("tok-1", "100000001"));
    ASSERT_TRUE(table.allocate("tok-2", "100000001"));
    table.route(kAlice, bindDatagram("tok-1"));
    table.route(kBob, bindDatagram("tok-1"));
    table.route(kAlice, bindDatagram("tok-2"));
    table.route(kCarol, bindDatagram("tok-2"));
    EXPECT_EQ(table.route(kAlice, ping(1)), kCarol);
    EXPECT_EQ(table.route(kBob, ping(2)), std::nullopt);
}

TEST_F(RelayTableTest, IdleSessionsExpireAfterSixtySecondsAndTrafficKeepsThemAlive)
{
    ASSERT_TRUE(table.allocate("quiet", "100000001"));
    ASSERT_TRUE(table.allocate("busy", "100000001"));
    table.route(kAlice, bindDatagram("busy"));
    table.route(kBob, bindDatagram("busy"));
    for (int i = 0; i < 7; ++i) {
        clock.advance(10s);
        table.route(kAlice, ping(static_cast<std::uint32_t>(i)));
        table.expire();
    }
    EXPECT_EQ(table.sessionCount(), 1u);
    EXPECT_EQ(table.route(kAlice, ping(99)), kBob);
    clock.advance(60s);
    EXPECT_EQ(table.expire(), 1u);
    EXPECT_EQ(table.sessionCount(), 0u);
    EXPECT_EQ(table.boundAddressCount(), 0u);
    EXPECT_EQ(table.route(kAlice, ping(100)), std::nullopt);
}

TEST_F(RelayTableTest, StandingSessionsStayButForgetIdleBindings)
{
    ASSERT_TRUE(table.allocateStanding("fixed"));
    table.route(kAlice, bindDatagram("fixed"));
    table.route(kBob, bindDatagram("fixed"));
    clock.advance(61s);
    table.expire();
    EXPECT_EQ(table.sessionCount(), 1u);
    EXPECT_EQ(table.route(kAlice, ping(1)), std::nullopt);
    table.route(kCarol, bindDatagram("fixed"));
    table.route(kAlice, bindDatagram("fixed"));
    EXPECT_EQ(table.route(kAlice, ping(2)), kCarol);
}

TEST_F(RelayTableTest, RejectsDuplicateEmptyAndOverlongTokens)
{
    EXPECT_TRUE(table.allocate("tok", "100000001"));
    EXPECT_FALSE(table.allocate("tok", "100000002"));
    EXPECT_FALSE(table.allocate("", "100000001"));
    EXPECT_FALSE(table.allocate(std::string(81, 'x'), "100000001"));
    EXPECT_TRUE(table.allocate(std::string(80, 'x'), "100000001"));
}

TEST(RelayTableLimits, AnOwnerAtItsLimitLosesItsLeastRecentlyActiveSession)
{
    ManualClock clock;
    RelayTable table(clock, {.maxSessionsPerOwner = 2});
    ASSERT_TRUE(table.allocate("a", "100000001"));
    clock.advance(1s);
    ASSERT_TRUE(table.allocate("b", "100000001"));
    clock.advance(1s);
    table.route(kAlice, bindDatagram("a")); // "a" is now the more recently active one
    ASSERT_TRUE(table.allocate("c", "100000001"));
    ASSERT_TRUE(table.allocate("d", "100000002")) << "other owners are not affected";
    EXPECT_EQ(table.sessionCount(), 3u);
    table.route(kBob, bindDatagram("b"));
    table.route(kCarol, bindDatagram("b"));
    EXPECT_EQ(table.route(kBob, ping(1)), std::nullopt) << "session b was removed";
    table.route(kBob, bindDatagram("a"));
    EXPECT_EQ(table.route(kBob, ping(2)), kAlice);
}

TEST(RelayTableLimits, TheRateCapDropsWhatExceedsTheSessionBudget)
{
    ManualClock clock;
    RelayTable table(clock, {.bytesPerSecond = 1'000'000}); // burst: 256 KiB
    ASSERT_TRUE(table.allocate("tok", "100000001"));
    table.route(kAlice, bindDatagram("tok"));
    table.route(kBob, bindDatagram("tok"));
    const std::vector<std::uint8_t> datagram(1116, 0xAB);
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
