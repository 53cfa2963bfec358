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

TEST_F(ReassemblerTest, DeliversOnceWhenEveryChunkArrivedTwice)
{
    const auto frame = patterned(5000);
    const auto delivered = feed(1, frame, 5, {0, 1, 2, 3, 4, 0, 1, 2, 3, 4});
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0], frame);
    EXPECT_TRUE(reassembler.isDone(1));
    EXPECT_EQ(reassembler.pendingCount(), 0u);
}

TEST_F(ReassemblerTest, PlacesOutOfOrderChunksByIndex)
{
    const auto frame = patterned(4400 + 17);
    const auto delivered = feed(2, frame, 5, {4, 2, 0, 3, 1});
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0], frame);
}

TEST_F(ReassemblerTest, FillsAChunkLostFromTheFirstCopyFromTheSecond)
{
    const auto frame = patterned(6600);
    const auto delivered = feed(3, frame, 6, {0, 1, 2, 4, 5, 0, 1, 2, 3, 4, 5});
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0], frame);
}

TEST_F(ReassemblerTest, RandomOrderWithDuplicatesAlwaysRebuildsTheFrame)
{
    std::mt19937 random(7);
    for (std::uint32_t id = 10; id < 60; ++id) {
        const auto frame = patterned(1 + random() % 20000, static_cast<std::uint8_t>(id));
        const auto count = static_cast<std::uint16_t>((frame.size() + 1099) / 1100);
        std::vector<std::uint16_t> order(count);
        std::iota(order.begin(), order.end(), 0);
        order.insert(order.end(), order.begin(), order.end());
        std::shuffle(order.begin(), order.end(), random);
        const auto delivered = feed(id, frame, count, order);
        ASSERT_EQ(delivered.size(), 1u) << id;
        EXPECT_EQ(delivered[0], frame) << id;
    }
}

TEST_F(ReassemblerTest, DropsAChunkWhoseCountDisagreesWithTheFirstChunk)
{
    const auto frame = patterned(2200);
    EXPECT_FALSE(reassembler.reassemble(4, 0, 2, slice(frame, 0)));
    EXPECT_FALSE(reassembler.reassemble(4, 1, 3, slice(frame, 1))); // claims 3 chunks
    EXPECT_FALSE(reassembler.reassemble(4, 2, 3, slice(frame, 1)));
    const auto done = reassembler.reassemble(4, 1, 2, slice(frame, 1));
    ASSERT_TRUE(done);
    EXPECT_EQ(*done, frame);
}

TEST_F(ReassemblerTest, DropsChunksWithNoCountOrAnIndexOutOfRange)
{
    const Bytes payload{1, 2, 3};
    EXPECT_FALSE(reassembler.reassemble(5, 0, 0, payload));
    EXPECT_FALSE(reassembler.reassemble(5, 1, 1, payload));
    EXPECT_EQ(reassembler.pendingCount(), 0u);
}

TEST_F(ReassemblerTest, EmptyPayloadStartsAFrameButNeverFillsASlot)
{
    EXPECT_FALSE(reassembler.reassemble(6, 0, 1, Bytes{}));
    EXPECT_EQ(reassembler.pendingCount(), 1u);
    EXPECT_FALSE(reassembler.reassemble(6, 0, 1, Bytes{}));
    const auto done = reassembler.reassemble(6, 0, 1, Bytes{9});
    ASSERT_TRUE(done);
    EXPECT_EQ(*done, Bytes{9});
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
    EXPECT_EQ(reassembler.pendingCount(), 0u);
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
        if (std::find(inserted.end() - std::min<std::ptrdiff_t>(512, static_cast<std::ptrdiff_t>(inserted.size())),
                inserted.end(), id) == inserted.end()) {
            inserted.push_back(id);
        }
        ASSERT_LE(ids.size(), 512u);
    }
    const auto recent = std::vector<std::uint32_t>(inserted.end() - 512, inserted.end());
    for (auto id : recent) {
        EXPECT_TRUE(ids.contains(id)) << id;
    }
    std::size_t remembered = 0;
    for (std::uint32_t slot = 0; slot < 4096; ++slot) {
        remembered += ids.contains(slot * 2048) ? 1 : 0;
    }
    EXPECT_EQ(remembered, 512u);
}

TEST(RecentIds, InsertingAKnownIdChangesNothing)
{
    RecentIds ids;
    for (std::uint32_t id = 0; id < 512; ++id) {
        ids.insert(id);
    }
    ids.insert(0); // already there: does not refresh or evict
    ids.insert(512);
    EXPECT_FALSE(ids.contains(0));
    EXPECT_TRUE(ids.contains(1));
    EXPECT_TRUE(ids.contains(512));
}

} // namespace
} // namespace tavoro::transport
