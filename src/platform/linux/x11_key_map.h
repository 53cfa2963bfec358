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
    // The key code to send for a key by its position: an X key code as X servers with evdev key codes
    // (Xorg, Xvfb, Xwayland) number the keys of a PC keyboard, whatever the layout. The key on the
    // US layout's "1" position sends "1" with or without Shift; modifiers are not mapped.
    static std::optional<protocol::KeyCode> keycodeToVk(std::uint32_t keycode);
};

} // namespace tavoro::platform
