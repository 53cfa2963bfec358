#include "platform/fake/sequence_random.h"

#include <gtest/gtest.h>

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

} // namespace
} // namespace tavoro::platform
