#pragma once

#include <nlohmann/json.hpp>

#include <vector>

namespace tavoro::ui {

// The modifier keys held, left and right not told apart. Caps Lock and the like do not travel.
struct Modifiers {
    bool shift = false;
    bool control = false;
    bool alt = false;
    bool super = false;
    bool operator==(const Modifiers&) const = default;
};

// Sends modifiers as their own key events (Shift 16, Control 17, Alt 18, Super 91), from the modifier
// state the local events report rather than from the modifier keys themselves. One per view, on the
// thread that delivers its events.
class ModifierTracker {
public:
    // The "key" events that take the remote side from the last state seen to `now`, in the order
    // Shift, Control, Alt, Super; `now` becomes the state seen.
    std::vector<nlohmann::json> update(Modifiers now);
    Modifiers held() const { return held_; }

private:
    Modifiers held_;
};

} // namespace tavoro::ui
