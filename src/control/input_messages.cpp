#include "control/input_messages.h"

#include <algorithm>
#include <cmath>

namespace tavoro::control::input {
namespace {

double clampUnit(double value)
{
    return std::isnan(value) ? 0.0 : std::clamp(value, 0.0, 1.0);
}

} // namespace

nlohmann::json mouseMove(double x, double y)
{
    return {{"kind", "mouse_move"}, {"x", clampUnit(x)}, {"y", clampUnit(y)}};
}

nlohmann::json mouseButton(const std::string& button, bool down)
{
    return {{"kind", "mouse_btn"}, {"btn", button}, {"down", down}};
}

nlohmann::json wheel(int dx, int dy) { return {{"kind", "wheel"}, {"dx", dx}, {"dy", dy}}; }

nlohmann::json key(int vk, bool down, bool ext) { return {{"kind", "key"}, {"vk", vk}, {"down", down}, {"ext", ext}}; }

} // namespace tavoro::control::input
