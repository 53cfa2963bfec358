#include "host/key_table.h"

#include <X11/keysym.h>

#include <algorithm>
#include <array>
#include <unordered_map>

namespace tavoro::host {

namespace {

constexpr int vkShift = 16;
constexpr int vkControl = 17;
constexpr int vkAlt = 18;
constexpr int vkSuperLeft = 91;
constexpr int vkSuperRight = 92;

constexpr std::size_t fixedKeys = 19;
constexpr std::size_t tableSize = fixedKeys + 10 + 26 + 12;

constexpr std::array<KeyPair, tableSize> buildTable()
{
    std::array<KeyPair, tableSize> table{{
        {8, XK_BackSpace},
        {9, XK_Tab},
        {13, XK_Return},
        {vkShift, XK_Shift_L},
        {vkControl, XK_Control_L},
        {vkAlt, XK_Alt_L},
        {27, XK_Escape},
        {32, XK_space},
        {33, XK_Page_Up},
        {34, XK_Page_Down},
        {35, XK_End},
        {36, XK_Home},
        {37, XK_Left},
        {38, XK_Up},
        {39, XK_Right},
        {40, XK_Down},
        {46, XK_Delete},
        {vkSuperLeft, XK_Super_L},
        {vkSuperRight, XK_Super_R},
    }};
    std::size_t i = fixedKeys;
    for (int digit = 0; digit < 10; ++digit) {
        table[i++] = {48 + digit, static_cast<std::uint32_t>(XK_0 + digit)};
    }
    for (int letter = 0; letter < 26; ++letter) {
        table[i++] = {65 + letter, static_cast<std::uint32_t>(XK_a + letter)};
    }
    for (int f = 0; f < 12; ++f) {
        table[i++] = {112 + f, static_cast<std::uint32_t>(XK_F1 + f)};
    }
    return table;
}

constexpr auto table = buildTable();

bool isModifier(int vk)
{
    return vk == vkShift || vk == vkControl || vk == vkAlt || vk == vkSuperLeft || vk == vkSuperRight;
}

std::unordered_map<std::uint32_t, int> buildKeysymMap()
{
    std::unordered_map<std::uint32_t, int> map;
    for (const auto& pair : table) {
        if (!isModifier(pair.vk)) {
            map.emplace(pair.keysym, pair.vk);
        }
    }
    for (int letter = 0; letter < 26; ++letter) {
        map.emplace(static_cast<std::uint32_t>(XK_A + letter), 65 + letter);
    }
    return map;
}

} // namespace

std::span<const KeyPair> keyTable() { return table; }

std::optional<std::uint32_t> keysymForVk(std::int64_t vk)
{
    const auto* found = std::find_if(table.begin(), table.end(), [vk](const KeyPair& pair) { return pair.vk == vk; });
    if (found == table.end()) {
        return std::nullopt;
    }
    return found->keysym;
}

std::optional<int> KeyMap::keysymToVk(std::uint32_t keysym)
{
    static const auto map = buildKeysymMap();
    const auto found = map.find(keysym);
    if (found == map.end()) {
        return std::nullopt;
    }
    return found->second;
}

} // namespace tavoro::host
