#include "platform/linux/x11_key_map.h"

#include <X11/keysym.h>

#include <algorithm>
#include <array>
#include <unordered_map>

namespace tavoro::platform {

namespace {

namespace key = protocol::key;

constexpr std::size_t fixedKeys = 19;
constexpr std::size_t tableSize = fixedKeys + key::digitCount + key::letterCount + key::functionKeyCount;

constexpr void appendRun(std::array<X11KeyPair, tableSize>& table, std::size_t& next, protocol::KeyCode firstVk,
    std::uint32_t firstKeysym, int count)
{
    for (int i = 0; i < count; ++i) {
        table[next++] = {static_cast<protocol::KeyCode>(firstVk + i), firstKeysym + static_cast<std::uint32_t>(i)};
    }
}

constexpr std::array<X11KeyPair, tableSize> buildTable()
{
    std::array<X11KeyPair, tableSize> table{{
        {key::backspace, XK_BackSpace},
        {key::tab, XK_Tab},
        {key::enter, XK_Return},
        {key::shift, XK_Shift_L},
        {key::control, XK_Control_L},
        {key::alt, XK_Alt_L},
        {key::escape, XK_Escape},
        {key::space, XK_space},
        {key::pageUp, XK_Page_Up},
        {key::pageDown, XK_Page_Down},
        {key::end, XK_End},
        {key::home, XK_Home},
        {key::left, XK_Left},
        {key::up, XK_Up},
        {key::right, XK_Right},
        {key::down, XK_Down},
        {key::forwardDelete, XK_Delete},
        {key::superLeft, XK_Super_L},
        {key::superRight, XK_Super_R},
    }};
    std::size_t next = fixedKeys;
    appendRun(table, next, key::digit0, XK_0, key::digitCount);
    appendRun(table, next, key::letterA, XK_a, key::letterCount);
    appendRun(table, next, key::f1, XK_F1, key::functionKeyCount);
    return table;
}

constexpr auto table = buildTable();

std::unordered_map<std::uint32_t, protocol::KeyCode> buildKeysymMap()
{
    std::unordered_map<std::uint32_t, protocol::KeyCode> map;
    for (const auto& pair : table) {
        if (!protocol::isModifierKey(pair.vk)) {
            map.emplace(pair.keysym, pair.vk);
        }
    }
    for (int letter = 0; letter < key::letterCount; ++letter) {
        map.emplace(static_cast<std::uint32_t>(XK_A + letter), static_cast<protocol::KeyCode>(key::letterA + letter));
    }
    return map;
}

} // namespace

std::span<const X11KeyPair> x11KeyTable() { return table; }

std::optional<std::uint32_t> keysymForVk(std::int64_t vk)
{
    const auto* found = std::find_if(table.begin(), table.end(), [vk](const X11KeyPair& pair) { return pair.vk == vk; });
    if (found == table.end()) {
        return std::nullopt;
    }
    return found->keysym;
}

std::optional<protocol::KeyCode> KeyMap::keysymToVk(std::uint32_t keysym)
{
    static const auto map = buildKeysymMap();
    const auto found = map.find(keysym);
    if (found == map.end()) {
        return std::nullopt;
    }
    return found->second;
}

} // namespace tavoro::platform
