// The rendezvous server's small pure parts: names and secrets, send queues and their budget,
// per-address limits, log throttling, SMS codes, call relays, rate limits.
#include "server/address_limit.h"
#include "server/call_relays.h"
#include "server/identifiers.h"
#include "server/log_throttle.h"
#include "server/queue_budget.h"
#include "server/rate_limiter.h"
#include "server/send_queue.h"
#include "server/sms_codes.h"

#include "platform/fake/manual_clock.h"
#include "platform/fake/sequence_random.h"

#include <gtest/gtest.h>

#include <regex>

namespace tavoro::server {
namespace {

using namespace std::chrono_literals;

TEST(Identifiers, PhoneAliases)
{
    for (const char* ok : {"13800000000", "13800000000:2", "13800000000:", "13800000000:1:2"}) {
        EXPECT_TRUE(isPhoneAlias(ok)) << ok;
    }
    for (const char* bad : {"1380000000", "138000000000", "13800000000a", "1380000000a", "+13800000000", "13800000000:x",
             "13800000000-2", "13800000000:2:x", "13800000000:123456789012345678901"}) {
        EXPECT_FALSE(isPhoneAlias(bad)) << bad;
    }
    EXPECT_EQ(phoneNumberOf("13800000000:2"), "13800000000");
    EXPECT_EQ(phoneNumberOf("13800000000"), "13800000000");
}

TEST(Identifiers, TokensAndCodesHaveTheirShapes)
{
    platform::fake::SequenceRandom random({0x00, 0x3F, 0x40, 0xFF, 0x1A});
    const std::string token = makeRelayToken(random);
    EXPECT_TRUE(std::regex_match(token, std::regex("[A-Za-z0-9_-]{24}"))) << token;
    EXPECT_EQ(token.substr(0, 5), "A_A_a");
    for (int i = 0; i < 50; ++i) {
        EXPECT_TRUE(std::regex_match(makeSmsCode(random), std::regex("[0-9]{6}")));
    }
    platform::fake::SequenceRandom zeros({0});
    EXPECT_EQ(makeSmsCode(zeros), "000000") << "leading zeros are kept";
}

TEST(Identifiers, NestingDepthIgnoresBracketsInStrings)
{
    EXPECT_EQ(jsonNestingDepth("1"), 0u);
    EXPECT_EQ(jsonNestingDepth(R"({"a":[1,{"b":[]}]})"), 4u);
    EXPECT_EQ(jsonNestingDepth(R"({"a":"[[[\"[[[","b":{}})"), 2u);
    EXPECT_EQ(jsonNestingDepth("]]]]{"), 1u);
}

SharedBytes bytesOf(std::size_t n) { return std::make_shared<const std::vector<std::uint8_t>>(n, 0xAB); }

// Limits in units of what one message costs, so that the cases read in messages.
constexpr std::size_t cost(std::size_t n) { return SendQueue::costOf(n); }
std::size_t cost(const std::string& text) { return SendQueue::costOf(text); }

TEST(SendQueue, TextGoesFirstAndMediaIsDroppedBeforeText)
{
    SendQueue queue(SendQueueLimits{cost(std::string(100, 'a')), cost(40) + cost(10)});
    EXPECT_EQ(queue.pushBinary(bytesOf(40)), SendQueue::Push::queued);
    EXPECT_EQ(queue.pushBinary(bytesOf(20)), SendQueue::Push::dropped) << "over the binary share";
    EXPECT_EQ(queue.pushBinary(bytesOf(10)), SendQueue::Push::queued);
    EXPECT_EQ(queue.pushText("hello"), SendQueue::Push::queued);
    EXPECT_EQ(queue.droppedBinary(), 1u);
    EXPECT_EQ(queue.queuedBytes(), cost(40) + cost(10) + cost(std::string("hello")));

    auto first = queue.pop();
    ASSERT_TRUE(first);
    EXPECT_EQ(std::get<std::string>(*first), "hello");
    EXPECT_EQ(std::get<SharedBytes>(*queue.pop())->size(), 40u);
    EXPECT_EQ(std::get<SharedBytes>(*queue.pop())->size(), 10u);
    EXPECT_FALSE(queue.pop());
    EXPECT_TRUE(queue.empty());
    EXPECT_EQ(queue.queuedBytes(), 0u);
}

TEST(SendQueue, ALargeMediaMessageFitsAnEmptyShareAndTextOverflowMeansClose)
{
    const std::string a(60, 'a');
    const std::string b(40, 'b');
    SendQueue queue(SendQueueLimits{cost(a) + cost(b), cost(50)});
    EXPECT_EQ(queue.pushBinary(bytesOf(80)), SendQueue::Push::queued) << "one message of any allowed size";
    EXPECT_EQ(queue.pushText(a), SendQueue::Push::queued);
    EXPECT_EQ(queue.pushText(b), SendQueue::Push::queued);
    EXPECT_EQ(queue.pushText("c"), SendQueue::Push::overflow);
    queue.pop();
    EXPECT_EQ(queue.pushText("c"), SendQueue::Push::queued);
    queue.clear();
    EXPECT_EQ(queue.queuedBytes(), 0u);
    EXPECT_FALSE(queue.pop());
}

TEST(SendQueue, WhatATextHoldsCountsNotOnlyItsLength)
{
    std::string roomy(10, 'x');
    roomy.reserve(1000);
    SendQueue roomyQueue(SendQueueLimits{cost(500), 0});
    EXPECT_EQ(roomyQueue.pushText(std::move(roomy)), SendQueue::Push::overflow) << "its spare capacity is memory too";

    SendQueue queue(SendQueueLimits{1024 * 1024, 0});
    int queued = 0; // a flood of empty replies still fills the queue
    while (queued <= 1024 * 1024 && queue.pushText("") == SendQueue::Push::queued) {
        ++queued;
    }
    EXPECT_LE(queued, 1024 * 1024 / 32) << "each message costs its bookkeeping too";
}

TEST(QueueBudget, OverTheLimitTheConnectionsHoldingTheMostAreChosen)
{
    QueueBudget budget(100);
    budget.add(60);
    budget.add(30);
    budget.add(25);
    EXPECT_TRUE(budget.over());
    EXPECT_EQ(budget.toClose({{1, 30}, {2, 60}, {3, 25}}), std::vector<ConnectionId>{2});
    budget.add(100);
    EXPECT_EQ(budget.toClose({{1, 30}, {2, 60}, {3, 25}, {4, 100}}), (std::vector<ConnectionId>{4, 2}));
    budget.remove(160);
    EXPECT_FALSE(budget.over());
    EXPECT_TRUE(budget.toClose({{1, 30}, {3, 25}}).empty());
}

TEST(QueueBudget, MemoryIsGivenBackOnceAfterEachBurst)
{
    QueueBudget budget(1000, 100);
    budget.add(99);
    budget.remove(99);
    EXPECT_FALSE(budget.burstIsOver()) << "too small to be worth it";
    budget.add(200);
    budget.remove(140);
    EXPECT_FALSE(budget.burstIsOver()) << "still more than a quarter of the peak";
    budget.remove(20);
    EXPECT_TRUE(budget.burstIsOver());
    EXPECT_FALSE(budget.burstIsOver());
    budget.add(160);
    budget.remove(200);
    EXPECT_TRUE(budget.burstIsOver()) << "the next burst";
}

TEST(AddressLimit, EachAddressHoldsAtMostItsLimitUntilASlotIsReleased)
{
    AddressLimit limit(2);
    auto first = limit.take("10.0.0.1");
    auto second = limit.take("10.0.0.1");
    ASSERT_TRUE(first && second);
    EXPECT_FALSE(limit.take("10.0.0.1"));
    EXPECT_TRUE(limit.take("10.0.0.2")) << "other addresses are not affected";
    EXPECT_EQ(limit.connectionsFrom("10.0.0.2"), 0u) << "the slot was let go at once";
    {
        auto moved = std::move(*first);
        first.reset();
        EXPECT_EQ(limit.connectionsFrom("10.0.0.1"), 2u) << "a moved slot still counts once";
    }
    EXPECT_EQ(limit.connectionsFrom("10.0.0.1"), 1u);
    EXPECT_TRUE(limit.take("10.0.0.1"));
}

TEST(LogThrottle, OneLinePerIntervalCountingWhatItStandsFor)
{
    const core::SteadyTime start{1h};
    LogThrottle throttle(60s);
    EXPECT_EQ(throttle.occurred(start), 1u);
    for (int i = 1; i < 600; ++i) {
        EXPECT_FALSE(throttle.occurred(start + i * 100ms)) << i;
    }
    EXPECT_EQ(throttle.occurred(start + 60s), 600u);
    EXPECT_FALSE(throttle.occurred(start + 61s));
}

TEST(SmsCodes, AtMostFiveOutstandingPerAliasAndEachGoodOnce)
{
    platform::fake::ManualClock clock;
    platform::fake::SequenceRandom random({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13});
    SmsCodes codes(clock, random, SmsCodes::Limits{});
    std::vector<std::string> issued;
    for (int i = 0; i < 6; ++i) {
        auto code = codes.issue("10000000" + std::to_string(i), "13800000000");
        ASSERT_TRUE(code.code);
        issued.push_back(*code.code);
    }
    EXPECT_FALSE(codes.redeem("13800000000", issued[0])) << "the oldest made room";
    EXPECT_FALSE(codes.redeem("13800000001", issued[5])) << "codes belong to their alias";
    EXPECT_TRUE(codes.redeem("13800000000", issued[5]));
    EXPECT_FALSE(codes.redeem("13800000000", issued[5]));
    EXPECT_TRUE(codes.redeem("13800000000", issued[1]));
}

TEST(CallRelays, ACallerHoldsABoundedNumberAndOldEntriesAreForgotten)
{
    platform::fake::ManualClock clock;
    CallRelays relays(clock, CallRelays::Limits{120s, 2});
    relays.remember("1", "A", "B", "r1");
    relays.remember("2", "A", "B", "r2");
    relays.remember("3", "A", "C", "r3");
    relays.remember("1", "X", "B", "x1");
    EXPECT_FALSE(relays.take("1", "A", "B")) << "made room for the third";
    EXPECT_EQ(relays.take("3", "A", "C"), "r3");
    EXPECT_FALSE(relays.take("3", "A", "C"));
    clock.advance(120s);
    relays.prune();
    EXPECT_EQ(relays.size(), 0u);
}

TEST(RateLimiter, KeepsAtMostMaxKeysAndForgetsThoseThatHaveRefilled)
{
    const core::SteadyTime start{std::chrono::hours(1)};
    RateLimiter<int> limiter(RateLimit{2, 1}, 3);
    EXPECT_TRUE(limiter.allow(1, start));
    EXPECT_TRUE(limiter.allow(1, start));
    EXPECT_FALSE(limiter.allow(1, start));
    for (int key = 2; key <= 4; ++key) {
        EXPECT_TRUE(limiter.allow(key, start));
    }
    EXPECT_EQ(limiter.size(), 3u);
    EXPECT_TRUE(limiter.allow(1, start)) << "key 1, used least recently, was pushed out";
    EXPECT_TRUE(limiter.allow(1, start));
    EXPECT_TRUE(limiter.allow(1, start + 1s)) << "one a second after the burst";
    EXPECT_FALSE(limiter.allow(1, start + 1s));
    EXPECT_TRUE(limiter.allow(5, start + 2500ms));
    EXPECT_EQ(limiter.size(), 2u) << "keys unused for burst / rate seconds are full again and forgotten";
}

} // namespace
} // namespace tavoro::server
