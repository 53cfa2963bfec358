#pragma once

#include <cstdint>
#include <span>

// The key codes that travel as "vk" in "key" input messages: Windows virtual-key codes. Only the keys
// named here travel; punctuation, keypad, Caps Lock and media keys are not transmitted. Constants and
// pure functions, callable from any thread.
namespace tavoro::protocol {

using KeyCode = std::uint16_t;

namespace key {
inline constexpr KeyCode backspace = 8;
inline constexpr KeyCode tab = 9;
inline constexpr KeyCode enter = 13;
inline constexpr KeyCode shift = 16;
inline constexpr KeyCode control = 17;
inline constexpr KeyCode alt = 18;
inline constexpr KeyCode escape = 27;
inline constexpr KeyCode space = 32;
inline constexpr KeyCode pageUp = 33;
inline constexpr KeyCode pageDown = 34;
inline constexpr KeyCode end = 35;
inline constexpr KeyCode home = 36;
inline constexpr KeyCode left = 37;
inline constexpr KeyCode up = 38;
inline constexpr KeyCode right = 39;
inline constexpr KeyCode down = 40;
inline constexpr KeyCode forwardDelete = 46;
inline constexpr KeyCode superLeft = 91;
inline constexpr KeyCode superRight = 92;
// The digits 0 to 9, the letters A to Z and F1 to F12 each take consecutive codes from these.
inline constexpr KeyCode digit0 = 48;
inline constexpr KeyCode letterA = 65;
inline constexpr KeyCode f1 = 112;
inline constexpr int digitCount = 10;
inline constexpr int letterCount = 26;
inline constexpr int functionKeyCount = 12;
} // namespace key

// Every code that travels, modifiers included, in ascending order.
std::span<const KeyCode> knownKeyCodes();

// Whether a received "vk" names a key that travels; any other value is ignored.
bool isKnownKeyCode(std::int64_t vk);

// Shift, Control, Alt and the two Super keys: the controller sends these from its modifier tracking,
// never from its key map.
bool isModifierKey(KeyCode code);

} // namespace tavoro::protocol
