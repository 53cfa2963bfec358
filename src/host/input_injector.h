#pragma once

#include "platform/capture_source.h"
#include "platform/input_sink.h"

#include <nlohmann/json.hpp>

#include <mutex>

namespace tavoro::host {

// Replays "input" messages ("mouse_move", "mouse_btn", "wheel", "key") as real input events on the
// injection rectangle: the bounds of the display being captured, so that a position the controller
// sees on one monitor lands on that monitor.
//
// Threads: any thread; mutex_ serialises handle() and setScreen() and guards every field, so input
// from the signaling path and from the peer transport never interleaves within one event.
class InputInjector {
public:
    InputInjector(platform::InputSink& sink, const platform::DisplayRect& screen);

    // Decodes one message and injects it; unknown kinds, unknown keys and values that do not fit
    // their integer types are dropped.
    void handle(const nlohmann::json& message);
    // The rectangle normalised positions map onto from now on.
    void setScreen(const platform::DisplayRect& screen);
    platform::DisplayRect screen() const;

private:
    // A position in the injection rectangle, each coordinate in [0, 1].
    struct UnitPoint {
        double x = 0;
        double y = 0;
    };

    void move(const nlohmann::json& message);
    void button(const nlohmann::json& message);
    void wheel(const nlohmann::json& message);
    void key(const nlohmann::json& message);
    int lastX() const;
    int lastY() const;

    platform::InputSink& sink_;
    mutable std::mutex mutex_; // guards the fields below and serialises calls into sink_
    platform::DisplayRect screen_;
    // The last position moved to, kept relative to the rectangle so that a click after a switch of
    // display lands on the new display; before any move it is the rectangle's top-left corner.
    UnitPoint last_;
    bool leftDown_ = false;
    bool rightDown_ = false;
    bool otherDown_ = false;
};

} // namespace tavoro::host
