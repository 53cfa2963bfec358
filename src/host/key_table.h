#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace tavoro::host {

// One row of the key table: the virtual-key code that travels in "key" input messages, and the X
// keysym of the same key.
struct KeyPair {
    int vk;
    std::uint32_t keysym;
};

// Every key that travels, modifiers included.
std::span<const KeyPair> keyTable();

// Host side: the keysym to press for a received virtual-key code; none for keys outside the table.
std::optional<std::uint32_t> keysymForVk(std::int64_t vk);

// Controller side: the virtual-key code to send for a local key (an X keysym), or none when the key is
// not transmitted. Modifiers (vk 16, 17, 18, 91, 92) are not mapped here: the controller sends them
// from its modifier tracking. Upper- and lower-case letter keysyms both map to the letter's code.
class KeyMap {
public:
    static std::optional<int> keysymToVk(std::uint32_t keysym);
};

} // namespace tavoro::host
