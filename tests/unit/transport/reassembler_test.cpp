#include "platform/fake/manual_clock.h"
#include "transport/reassembler.h"
#include "transport/recent_ids.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

namespace tavoro::transport {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

Bytes patterned(std::size_t size, std::uint8_t seed = 1)
{
    Bytes out(size);
    for (std::size_t i = 0; i < size; ++i) {
        out[i] = static_cast<std::uint8_t>(seed + i * 31 + i / 251);
    }
    return out;
}

std::span<const std::uint8_t> slice(const Bytes& frame, std::uint16_t index)
{
    const std::size_t begin = std::size_t{index} * 1100;
    return std::span(frame).subspan(begin, std::min<std::size_t>(1100, frame.size() - begin));
}

class ReassemblerTest : public ::testing::Test {
protected:
    // Feeds the given chunk indices; returns every frame delivered on the way.
    std::vector<Bytes> feed(std::uint32_t id, const Bytes& frame, std::uint16_t count, const std::vector<std::uint16_t>& order)
    {
        std::vector<Bytes> delivered;
        for (auto index : order) {
            if (auto done = reassembler.reassemble(id, index, count, slice(frame, index))) {
                delivered.push_back(std::move(*done));
            }
        }
        return delivered;
    }

    platform::fake::ManualClock clock;
    Reassembler reassembler{clock};
};

// Every chunk twice, as the sender sends them, in any order: each frame comes out exactly once.
TEST_F(ReassemblerTest, RandomOrderWithDuplicatesDeliversEachFrameOnce)
{
    std::mt19937 random(7);
    for (std::uint32_t id = 10; id < 60; ++id) {
        const auto frame = patterned(1 + random() % 20000, static_cast<std::uint8_t>(id));
        const auto count = static_cast<std::uint16_t>((frame.size() + 1099) / 1100);
        std::vector<std::uint16_t> order(count);
        std::iota(order.begin(), order.end(), 0);
        order.insert(order.end(), order.begin(), order.end());
        std::shuffle(order.begin(), order.end(), random);
        EXPECT_EQ(feed(id, frame, count, order), std::vector<Bytes>{frame}) << id;
        EXPECT_TRUE(reassembler.isDone(id));
        EXPECT_EQ(reassembler.pendingCount(), 0u);
    }
}

TEST_F(ReassemblerTest, DropsChunksWithAWrongCountNoCountAnOutOfRangeIndexOrNoPayload)
{
    const auto frame = patterned(2200);
    EXPECT_FALSE(reassembler.reassemble(4, 0, 2, slice(frame, 0)));
    EXPECT_FALSE(reassembler.reassemble(4, 1, 3, slice(frame, 1))); // disagrees with the first chunk
    EXPECT_FALSE(reassembler.reassemble(4, 2, 3, slice(frame, 1)));
    EXPECT_EQ(reassembler.reassemble(4, 1, 2, slice(frame, 1)), frame);

    EXPECT_FALSE(reassembler.reassemble(5, 0, 0, Bytes{1}));
    EXPECT_FALSE(reassembler.reassemble(5, 1, 1, Bytes{1}));
    EXPECT_EQ(reassembler.pendingCount(), 0u);

    // An empty payload starts a frame but never fills its slot.
    EXPECT_FALSE(reassembler.reassemble(6, 0, 1, Bytes{}));
    EXPECT_FALSE(reassembler.reassemble(6, 0, 1, Bytes{}));
    EXPECT_EQ(reassembler.pendingCount(), 1u);
    EXPECT_EQ(reassembler.reassemble(6, 0, 1, Bytes{9}), Bytes{9});
}

TEST_F(ReassemblerTest, GivesUpAFrameIncompleteAfter250MsAndDropsItsLateChunks)
{
    const auto frame = patterned(3300);
    reassembler.reassemble(7, 0, 3, slice(frame, 0));
    clock.advance(200ms);
    reassembler.reassemble(7, 1, 3, slice(frame, 1));
    clock.advance(50ms);
    reassembler.sweep(clock.uptimeMs()); // 250 ms: not yet more than 250
    EXPECT_EQ(reassembler.pendingCount(), 1u);
    clock.advance(1ms);
    reassembler.sweep(clock.uptimeMs());
    EXPECT_EQ(reassembler.pendingCount(), 0u);
    EXPECT_TRUE(reassembler.isDone(7));
    EXPECT_FALSE(reassembler.reassemble(7, 2, 3, slice(frame, 2)));
    EXPECT_EQ(reassembler.pendingCount(), 0u);
}

TEST_F(ReassemblerTest, ForgetsTheOldestIdAfter512More)
{
    const Bytes payload{42};
    for (std::uint32_t id = 1; id <= 513; ++id) {
        ASSERT_TRUE(reassembler.reassemble(id, 0, 1, payload));
    }
    EXPECT_FALSE(reassembler.isDone(1));
    EXPECT_TRUE(reassembler.isDone(2));
    EXPECT_TRUE(reassembler.isDone(513));
    EXPECT_FALSE(reassembler.reassemble(2, 0, 2, payload)); // still remembered: dropped
    EXPECT_EQ(reassembler.pendingCount(), 0u);
    EXPECT_FALSE(reassembler.reassemble(1, 0, 2, payload)); // forgotten: a new Partial
    EXPECT_EQ(reassembler.pendingCount(), 1u);
    clock.advance(251ms);
    reassembler.sweep(clock.uptimeMs());
    EXPECT_TRUE(reassembler.isDone(1));
    EXPECT_FALSE(reassembler.isDone(2));
}

TEST_F(ReassemblerTest, AHugeClaimedCountCostsOnlyWhatArrived)
{
    const Bytes payload(1100, 1);
    for (std::uint32_t id = 1000; id < 1100; ++id) {
        EXPECT_FALSE(reassembler.reassemble(id, 65534, 65535, payload));
    }
    EXPECT_EQ(reassembler.pendingCount(), 100u);
    clock.advance(251ms);
    reassembler.sweep(clock.uptimeMs());
    EXPECT_EQ(reassembler.pendingCount(), 0u);
}

TEST(RecentIds, KeepsThe512MostRecentInInsertionOrder)
{
    RecentIds ids;
    std::mt19937 random(3);
    std::vector<std::uint32_t> inserted;
    for (int i = 0; i < 5000; ++i) {
        // Many ids share hash slots, so deletion has to keep probe chains intact.
        const std::uint32_t id = (random() % 4096) * 2048;
        ids.insert(id);
        const auto window = inserted.end() - std::min<std::ptrdiff_t>(512, std::ssize(inserted));
        if (std::find(window, inserted.end(), id) == inserted.end()) {
            inserted.push_back(id);
        }
        ASSERT_LE(ids.size(), 512u);
    }
    for (auto it = inserted.end() - 512; it != inserted.end(); ++it) {
        EXPECT_TRUE(ids.contains(*it)) << *it;
    }
    std::size_t remembered = 0;
    for (std::uint32_t slot = 0; slot < 4096; ++slot) {
        remembered += ids.contains(slot * 2048) ? 1 : 0;
    }
    EXPECT_EQ(remembered, 512u);

    RecentIds fresh;
    for (std::uint32_t id = 0; id < 512; ++id) {
        fresh.insert(id);
    }
    fresh.insert(0); // already there: does not refresh or evict
    fresh.insert(512);
    EXPECT_FALSE(fresh.contains(0));
    EXPECT_TRUE(fresh.contains(1));
    EXPECT_TRUE(fresh.contains(512));
}

} // namespace
} // namespace tavoro::transport
