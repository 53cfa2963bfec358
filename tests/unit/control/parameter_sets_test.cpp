#include "control/parameter_sets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace tavoro::control {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::vector<Bytes> copies(std::span<const NalUnit> units)
{
    std::vector<Bytes> bytes;
    for (const NalUnit unit : units) {
        bytes.emplace_back(unit.begin(), unit.end());
    }
    return bytes;
}

std::vector<Bytes> split(const Bytes& accessUnit) { return copies(protocol::splitAnnexB(accessUnit)); }

TEST(AnnexBTest, SplitsAtThreeAndFourByteStartCodes)
{
    const struct {
        const char* what;
        Bytes accessUnit;
        std::vector<Bytes> units;
    } cases[] = {
        {"mixed start codes", {0, 0, 0, 1, 0x67, 0xAA, 0, 0, 1, 0x68, 0xBB, 0, 0, 0, 1, 0x65, 0xCC},
            {{0x67, 0xAA}, {0x68, 0xBB}, {0x65, 0xCC}}},
        {"bytes before the first start code", {0x12, 0, 0x34, 0, 0, 1, 0x65, 1}, {{0x65, 1}}},
        {"no start code", {0x65, 0, 0, 2, 0x11, 0, 1}, {}},
        {"empty", {}, {}},
        {"back-to-back start codes", {0, 0, 1, 0, 0, 0, 1, 0x65, 0, 0, 1, 0, 0, 1}, {{0x65}}},
        {"zeros before a 3-byte code stay", {0, 0, 1, 0x41, 0, 0, 0, 0, 1, 0x42}, {{0x41, 0}, {0x42}}},
        {"zeros before a 4-byte code do not", {0, 0, 1, 0x41, 0, 0, 0, 1, 0x42}, {{0x41}, {0x42}}},
        {"trailing zeros stay", {0, 0, 0, 1, 0x41, 7, 0, 0}, {{0x41, 7, 0, 0}}},
        {"start code at the very end", {0, 0, 1, 0x41, 0, 0, 1}, {{0x41}}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(split(c.accessUnit), c.units) << c.what;
    }
}

TEST(AnnexBTest, TracksParameterSetsAndSortsOutPictureUnits)
{
    const Bytes spsA{0x67, 1}, spsB{0x67, 2}, ppsA{0x68, 1}, ppsB{0x68, 2}, sei{0x06, 9}, idr{0x65, 3},
        slice{0x41, 4};
    const struct {
        const char* what;
        std::vector<Bytes> units;
        bool changed;
        std::vector<Bytes> pictureUnits;
        bool idr;
        bool complete;
    } steps[] = {
        {"a slice before any parameter set", {slice}, false, {slice}, false, false},
        {"only a sequence parameter set", {spsA}, true, {}, false, false},
        {"a keyframe with its sets and SEI", {spsA, ppsA, sei, idr}, true, {idr}, true, true},
        {"the same keyframe again", {spsA, ppsA, sei, idr}, false, {idr}, true, true},
        {"a delta", {sei, slice, slice}, false, {slice, slice}, false, true},
        {"a new sequence parameter set", {spsB, ppsA, idr}, true, {idr}, true, true},
        {"a new picture parameter set alone", {ppsB}, true, {}, false, true},
    };
    ParameterSetTracker tracker;
    for (const auto& step : steps) {
        std::vector<NalUnit> units(step.units.begin(), step.units.end());
        const auto classified = tracker.classify(units);
        EXPECT_EQ(classified.parametersChanged, step.changed) << step.what;
        EXPECT_EQ(copies(classified.pictureUnits), step.pictureUnits) << step.what;
        EXPECT_EQ(classified.idrSlice, step.idr) << step.what;
        EXPECT_EQ(tracker.complete(), step.complete) << step.what;
    }
    EXPECT_TRUE(std::ranges::equal(tracker.sps(), spsB));
    EXPECT_TRUE(std::ranges::equal(tracker.pps(), ppsB));
    tracker.reset();
    EXPECT_FALSE(tracker.complete());
}

} // namespace
} // namespace tavoro::control
