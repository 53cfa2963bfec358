#pragma once

#include "platform/input_sink.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tavoro::platform::fake {

// Records every posted event as one line of text, e.g. "move 720 450 moved", "button 10 20 left down",
// "scroll 3 0", "key 65 down". Not thread-safe (the injector serialises its calls).
class RecordingInputSink final : public InputSink {
public:
    std::vector<std::string> events;

    void moveTo(int x, int y, MouseMotion motion) override
    {
        static constexpr const char* names[] = {"moved", "left-dragged", "right-dragged", "other-dragged"};
        events.push_back("move " + std::to_string(x) + " " + std::to_string(y) + " " +
            names[static_cast<int>(motion)]);
    }
    void button(int x, int y, MouseButton button, bool down) override
    {
        static constexpr const char* names[] = {"left", "right", "other"};
        events.push_back("button " + std::to_string(x) + " " + std::to_string(y) + " " +
            names[static_cast<int>(button)] + (down ? " down" : " up"));
    }
    void scroll(int verticalSteps, int horizontalSteps) override
    {
        events.push_back("scroll " + std::to_string(verticalSteps) + " " + std::to_string(horizontalSteps));
    }
    void key(std::uint16_t code, bool down) override
    {
        events.push_back("key " + std::to_string(code) + (down ? " down" : " up"));
    }
};

} // namespace tavoro::platform::fake
