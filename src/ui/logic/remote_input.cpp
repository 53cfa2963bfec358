#include "ui/logic/remote_input.h"

#include "control/input_messages.h"
#include "platform/linux/x11_key_map.h"
#include "ui/logic/view_rect.h"

namespace tavoro::ui {

std::string wireButtonName(MouseButton button)
{
    switch (button) {
    case MouseButton::left:
        return "left";
    case MouseButton::right:
        return "right";
    case MouseButton::middle:
    case MouseButton::other:
        break;
    }
    return "middle";
}

RemoteInput::RemoteInput(core::Scheduler& timers, Send send)
    : send_(std::move(send)),
      moves_(timers, [this](PointF at) { send_(control::input::mouseMove(at.x, at.y)); })
{
}

void RemoteInput::mouseMoved(PointF viewPosition)
{
    if (const auto at = normalisedPosition(viewPosition, picture_)) {
        moves_.move(*at);
    }
}

void RemoteInput::buttonPressed(MouseButton button, PointF viewPosition)
{
    if (const auto at = normalisedPosition(viewPosition, picture_)) {
        moves_.sendNow(*at);
    } else {
        moves_.flush();
    }
    sendButton(button, true);
}

void RemoteInput::buttonReleased(MouseButton button, PointF viewPosition)
{
    const auto at = normalisedPosition(viewPosition, picture_);
    if (button == MouseButton::left && at) {
        moves_.sendNow(*at);
    } else {
        moves_.flush();
    }
    sendButton(button, false);
}

void RemoteInput::wheelTurned(int angleDx, int angleDy)
{
    moves_.flush();
    const auto steps = wheel_.add(angleDx, angleDy);
    if (steps != WheelSteps{}) {
        send_(control::input::wheel(steps.dx, steps.dy));
    }
}

void RemoteInput::keyChanged(std::uint32_t x11Keycode, bool down, Modifiers after)
{
    modifiersChanged(after);
    const auto vk = platform::KeyMap::keycodeToVk(x11Keycode);
    if (!vk) {
        return;
    }
    held_.key(*vk, down);
    send_(control::input::key(*vk, down));
}

void RemoteInput::modifiersChanged(Modifiers now) { sendAll(modifiers_.update(now)); }

void RemoteInput::releaseAll()
{
    moves_.flush();
    sendAll(held_.releaseAll());
    sendAll(modifiers_.update(Modifiers{}));
    wheel_.reset();
}

void RemoteInput::sendAll(std::vector<nlohmann::json> messages)
{
    for (auto& message : messages) {
        send_(std::move(message));
    }
}

void RemoteInput::sendButton(MouseButton button, bool down)
{
    const auto name = wireButtonName(button);
    held_.button(name, down);
    send_(control::input::mouseButton(name, down));
}

} // namespace tavoro::ui
