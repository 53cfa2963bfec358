#include "host/input_injector.h"

#include "core/json_fields.h"
#include "protocol/key_codes.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

namespace tavoro::host {

namespace {

constexpr int maxWheelSteps = 10;

// A normalised coordinate; absent or not a number reads as 0.
double unitField(const nlohmann::json& message, std::string_view key)
{
    const double value = json::doubleField(message, key).value_or(0.0);
    if (!(value >= 0.0)) {
        return 0.0;
    }
    return std::min(value, 1.0);
}

// The pixel a normalised position falls on; 1.0 is the last pixel of the span, not the first one of
// the next display.
int pixelAt(int origin, int extent, double unit)
{
    if (extent <= 0) {
        return origin;
    }
    const int offset = static_cast<int>(std::floor(unit * extent));
    return origin + std::min(offset, extent - 1);
}

// An integer field that must fit 32 bits: absent or not a number reads as 0, a number that does not
// fit yields nothing (the message is dropped).
std::optional<std::int32_t> int32Field(const nlohmann::json& message, std::string_view key)
{
    const auto* value = json::find(message, key);
    if (!value || !value->is_number()) {
        return 0;
    }
    const auto integer = json::asInteger(*value);
    if (!integer || *integer < std::numeric_limits<std::int32_t>::min() ||
        *integer > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(*integer);
}

int wheelSteps(std::int32_t delta) { return std::clamp(delta, -maxWheelSteps, maxWheelSteps); }

} // namespace

InputInjector::InputInjector(platform::InputSink& sink, const platform::DisplayRect& screen)
    : sink_(sink), screen_(screen)
{
}

void InputInjector::setScreen(const platform::DisplayRect& screen)
{
    std::lock_guard lock(mutex_);
    screen_ = screen;
}

platform::DisplayRect InputInjector::screen() const
{
    std::lock_guard lock(mutex_);
    return screen_;
}

void InputInjector::handle(const nlohmann::json& message)
{
    const auto kind = json::stringField(message, "kind");
    std::lock_guard lock(mutex_);
    if (kind == "mouse_move") {
        move(message);
    } else if (kind == "mouse_btn") {
        button(message);
    } else if (kind == "wheel") {
        wheel(message);
    } else if (kind == "key") {
        key(message);
    }
}

void InputInjector::move(const nlohmann::json& message)
{
    last_ = {unitField(message, "x"), unitField(message, "y")};
    auto motion = platform::MouseMotion::moved;
    if (leftDown_) {
        motion = platform::MouseMotion::leftDragged;
    } else if (rightDown_) {
        motion = platform::MouseMotion::rightDragged;
    } else if (otherDown_) {
        motion = platform::MouseMotion::otherDragged;
    }
    sink_.moveTo(lastX(), lastY(), motion);
}

void InputInjector::button(const nlohmann::json& message)
{
    const auto* name = json::find(message, "btn");
    const std::string btn = name && name->is_string() ? name->get<std::string>() : "left";
    const bool down = json::boolField(message, "down");
    auto which = platform::MouseButton::left;
    if (btn == "right") {
        which = platform::MouseButton::right;
        rightDown_ = down;
    } else if (btn == "middle" || btn == "x1" || btn == "x2") {
        which = platform::MouseButton::other;
        otherDown_ = down;
    } else {
        leftDown_ = down;
    }
    sink_.button(lastX(), lastY(), which, down);
}

int InputInjector::lastX() const { return pixelAt(screen_.x, screen_.width, last_.x); }

int InputInjector::lastY() const { return pixelAt(screen_.y, screen_.height, last_.y); }

void InputInjector::wheel(const nlohmann::json& message)
{
    const auto dx = int32Field(message, "dx");
    const auto dy = int32Field(message, "dy");
    if (!dx || !dy) {
        return;
    }
    sink_.scroll(wheelSteps(*dy), wheelSteps(*dx));
}

void InputInjector::key(const nlohmann::json& message)
{
    const auto vk = int32Field(message, "vk");
    if (vk && protocol::isKnownKeyCode(*vk)) {
        sink_.key(static_cast<protocol::KeyCode>(*vk), json::boolField(message, "down"));
    }
}

} // namespace tavoro::host
