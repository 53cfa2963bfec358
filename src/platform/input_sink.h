#pragma once

#include <cstdint>

namespace tavoro::platform {

enum class MouseButton { left, right, other };

// How a pointer motion is posted; the button held decides, as on a real mouse.
enum class MouseMotion { moved, leftDragged, rightDragged, otherDragged };

// The platform's input event poster. Positions are pixels in the global display space. Not
// thread-safe: one caller at a time (the injector serialises its calls).
class InputSink {
public:
    virtual ~InputSink() = default;
    virtual void moveTo(int x, int y, MouseMotion motion) = 0;
    virtual void button(int x, int y, MouseButton button, bool down) = 0;
    // Wheel steps: positive vertical scrolls up, positive horizontal scrolls left.
    virtual void scroll(int verticalSteps, int horizontalSteps) = 0;
    // A key code as it travels in "key" input messages (only known codes are passed); a key the host's
    // keyboard cannot produce is ignored.
    virtual void key(std::uint16_t code, bool down) = 0;
};

} // namespace tavoro::platform
