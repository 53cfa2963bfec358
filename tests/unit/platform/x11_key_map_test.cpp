#include "platform/linux/x11_key_map.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <algorithm>

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

} // namespace
} // namespace tavoro::platform
