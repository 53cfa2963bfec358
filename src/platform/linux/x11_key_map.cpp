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

// Where the keys of a PC keyboard sit in evdev key codes (the Linux input code plus 8), each with the
// keysym the US layout gives it without modifiers.
struct KeyPosition {
    std::uint32_t keycode;
    std::uint32_t keysym;
};

constexpr std::array<KeyPosition, 8> singleKeys{{
    {9, XK_Escape},
    {22, XK_BackSpace},
    {23, XK_Tab},
    {36, XK_Return},
    {65, XK_space},
    {95, XK_F11},
    {96, XK_F12},
    {119, XK_Delete},
}};

// Runs of neighbouring key codes: the first key code and the keysyms from it on.
constexpr std::array digitRow{XK_1, XK_2, XK_3, XK_4, XK_5, XK_6, XK_7, XK_8, XK_9, XK_0};
constexpr std::array topRow{XK_q, XK_w, XK_e, XK_r, XK_t, XK_y, XK_u, XK_i, XK_o, XK_p};
constexpr std::array homeRow{XK_a, XK_s, XK_d, XK_f, XK_g, XK_h, XK_j, XK_k, XK_l};
constexpr std::array bottomRow{XK_z, XK_x, XK_c, XK_v, XK_b, XK_n, XK_m};
constexpr std::array functionRow{XK_F1, XK_F2, XK_F3, XK_F4, XK_F5, XK_F6, XK_F7, XK_F8, XK_F9, XK_F10};
constexpr std::array navigationBlock{XK_Home, XK_Up, XK_Page_Up, XK_Left, XK_Right, XK_End, XK_Down, XK_Page_Down};

template <typename Keysym, std::size_t N>
void addRun(std::unordered_map<std::uint32_t, std::uint32_t>& map, std::uint32_t firstKeycode,
    const std::array<Keysym, N>& keysyms)
{
    for (std::size_t i = 0; i < N; ++i) {
        map.emplace(firstKeycode + static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(keysyms[i]));
    }
}

std::unordered_map<std::uint32_t, std::uint32_t> buildPositionMap()
{
    std::unordered_map<std::uint32_t, std::uint32_t> map;
    for (const auto& key : singleKeys) {
        map.emplace(key.keycode, key.keysym);
    }
    addRun(map, 10, digitRow);
    addRun(map, 24, topRow);
    addRun(map, 38, homeRow);
    addRun(map, 52, bottomRow);
    addRun(map, 67, functionRow);
    addRun(map, 110, navigationBlock);
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

std::optional<protocol::KeyCode> KeyMap::keycodeToVk(std::uint32_t keycode)
{
    static const auto positions = buildPositionMap();
    const auto found = positions.find(keycode);
    if (found == positions.end()) {
        return std::nullopt;
    }
    return keysymToVk(found->second);
}

} // namespace tavoro::platform
