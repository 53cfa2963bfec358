#pragma once

#include "core/scheduler.h"
#include "ui/logic/geometry.h"
#include "ui/logic/held_input.h"
#include "ui/logic/modifier_tracker.h"
#include "ui/logic/move_coalescer.h"
#include "ui/logic/wheel_notches.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <functional>
#include <string>

namespace tavoro::ui {

// Local mouse buttons; every button other than left and right travels as "middle".
enum class MouseButton { left, right, middle, other };

// "left", "right" or "middle".
std::string wireButtonName(MouseButton button);

// Turns the remote screen view's local mouse, wheel and keyboard events into the fields of "input"
// messages, in the order they must reach the host, and hands each to `send` (the view passes them to
// ControlSession::sendInput, which decides whether they go out). Positions are taken relative to the
// picture rectangle last set; moves are coalesced to 60 a second; keys travel by their position on the
// keyboard, modifiers from the reported modifier state.
//
// Threads: one thread only, the one the scheduler runs its tasks on (the main thread); `send` is
// called on it, also from the move clock.
class RemoteInput {
public:
    using Send = std::function<void(nlohmann::json fields)>;

    RemoteInput(core::Scheduler& timers, Send send);
    RemoteInput(const RemoteInput&) = delete;
    RemoteInput& operator=(const RemoteInput&) = delete;

    void setPicture(const RectF& picture) { picture_ = picture; }

    // A move or drag; ignored outside the picture.
    void mouseMoved(PointF viewPosition);
    // A press, and the left button's release, go out at their own position when it is on the picture.
    void buttonPressed(MouseButton button, PointF viewPosition);
    void buttonReleased(MouseButton button, PointF viewPosition);
    // Rotation in eighths of a degree per axis, as the toolkit reports it.
    void wheelTurned(int angleDx, int angleDy);
    // A key by its X key code (auto-repeated presses included), with the modifiers held after it.
    void keyChanged(std::uint32_t x11Keycode, bool down, Modifiers after);
    void modifiersChanged(Modifiers now);
    // The view no longer receives events (focus lost, window deactivated, hidden or closed): every
    // button and key it pressed is released, modifiers last, after any move still to send.
    void releaseAll();

private:
    void sendAll(std::vector<nlohmann::json> messages);
    void sendButton(MouseButton button, bool down);

    Send send_;
    RectF picture_;
    MoveCoalescer moves_;
    WheelNotches wheel_;
    ModifierTracker modifiers_;
    HeldInput held_;
};

} // namespace tavoro::ui
