#pragma once

#include "protocol/key_codes.h"

#include <cstdint>
#include <optional>
#include <span>

namespace tavoro::platform {

// One row of the X11 key table: a key code that travels in "key" input messages, and the X keysym of
// the same key.
struct X11KeyPair {
    protocol::KeyCode vk;
    std::uint32_t keysym;
};

// Every key that travels, modifiers included. Callable from any thread.
std::span<const X11KeyPair> x11KeyTable();

// Host side: the keysym to press for a received key code; none for keys outside the table.
std::optional<std::uint32_t> keysymForVk(std::int64_t vk);

// Controller side: the key code to send for a local key (an X keysym), or none when the key is not
// transmitted. Modifiers are not mapped here: the controller sends them from its modifier tracking.
// Upper- and lower-case letter keysyms both map to the letter's code. Callable from any thread.
class KeyMap {
public:
    static std::optional<protocol::KeyCode> keysymToVk(std::uint32_t keysym);
};

} // namespace tavoro::platform
