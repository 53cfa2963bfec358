#include "protocol/key_codes.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace tavoro::protocol {
namespace {

TEST(KeyCodes, OnlyTheKeysThatTravelAreKnown)
{
    const auto codes = knownKeyCodes();
    EXPECT_EQ(codes.size(), 19u + 10 + 26 + 12);
    EXPECT_TRUE(std::is_sorted(codes.begin(), codes.end()));
    for (const std::int64_t vk : {8, 13, 16, 46, 48, 57, 65, 90, 91, 92, 112, 123}) {
        EXPECT_TRUE(isKnownKeyCode(vk)) << vk;
    }
    for (const std::int64_t vk : {0LL, 7LL, 20LL, 47LL, 58LL, 64LL, 93LL, 111LL, 124LL, 186LL, -65LL, 65LL + 65536, 4294967361LL}) {
        EXPECT_FALSE(isKnownKeyCode(vk)) << vk;
    }
    EXPECT_EQ(std::count_if(codes.begin(), codes.end(), isModifierKey), 5);
}

} // namespace
} // namespace tavoro::protocol
