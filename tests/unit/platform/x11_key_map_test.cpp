#include "platform/linux/x11_key_map.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace tavoro::platform {
namespace {

TEST(X11KeyMap, BothDirectionsUseTheSamePairsAndTheControllerSkipsModifiers)
{
    const auto known = protocol::knownKeyCodes();
    std::size_t rows = 0;
    for (const auto& pair : x11KeyTable()) {
        ++rows;
        EXPECT_TRUE(std::binary_search(known.begin(), known.end(), pair.vk)) << pair.vk;
        EXPECT_EQ(keysymForVk(pair.vk), pair.keysym) << pair.vk;
        if (protocol::isModifierKey(pair.vk)) {
            EXPECT_FALSE(KeyMap::keysymToVk(pair.keysym)) << pair.vk;
        } else {
            EXPECT_EQ(KeyMap::keysymToVk(pair.keysym), pair.vk) << pair.vk;
        }
    }
    EXPECT_EQ(rows, known.size());
    EXPECT_EQ(KeyMap::keysymToVk(XK_Q), 81) << "a shifted letter is still its key";
    EXPECT_FALSE(KeyMap::keysymToVk(XK_KP_1));
    EXPECT_FALSE(KeyMap::keysymToVk(XK_semicolon));
    EXPECT_FALSE(KeyMap::keysymToVk(XK_Caps_Lock));
    EXPECT_FALSE(keysymForVk(186));
}

TEST(X11KeyMap, KeyPositionsReachEveryKeyButTheModifiersOnce)
{
    std::map<protocol::KeyCode, int> reached;
    for (std::uint32_t keycode = 0; keycode < 256; ++keycode) {
        if (const auto vk = KeyMap::keycodeToVk(keycode)) {
            ++reached[*vk];
        }
    }
    for (const auto vk : protocol::knownKeyCodes()) {
        EXPECT_EQ(reached[vk], protocol::isModifierKey(vk) ? 0 : 1) << vk;
    }
    const std::map<std::uint32_t, std::optional<protocol::KeyCode>> samples{
        {10, 49}, {19, 48}, {24, 81}, {38, 65}, {52, 90}, {36, 13}, {67, 112}, {96, 123}, {110, 36}, {117, 34},
        {119, 46}, {50, std::nullopt}, {66, std::nullopt}, {87, std::nullopt}, {133, std::nullopt}};
    for (const auto& [keycode, vk] : samples) {
        EXPECT_EQ(KeyMap::keycodeToVk(keycode), vk) << keycode;
    }
}

} // namespace
} // namespace tavoro::platform
