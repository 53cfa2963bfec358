#include "platform/fake/sequence_random.h"
#include "platform/linux/system_random.h"

#include <gtest/gtest.h>

#include <array>
#include <set>

namespace tavoro::platform {
namespace {

TEST(SecureRandom, BelowRejectsTheBiasedTopRange)
{
    // 0xFF..FF lies in the partial top range for bound 3 and must be drawn again.
    std::vector<std::uint8_t> bytes(8, 0xFF);
    for (int i = 0; i < 8; ++i) {
        bytes.push_back(i == 0 ? 5 : 0);
    }
    fake::SequenceRandom random(bytes);
    EXPECT_EQ(random.below(3), 2u);
}

TEST(SecureRandom, SystemSourceCoversTheRange)
{
    SystemRandom random;
    std::set<std::uint64_t> seen;
    for (int i = 0; i < 2000; ++i) {
        auto value = random.below(16);
        ASSERT_LT(value, 16u);
        seen.insert(value);
    }
    EXPECT_EQ(seen.size(), 16u);
}

} // namespace
} // namespace tavoro::platform
