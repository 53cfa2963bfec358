#pragma once

#include <nlohmann/json.hpp>

#include <string>

// The event fields of "input" messages as a controller sends them ("to" and "call_id" are added by the
// session). Pure functions, callable from any thread.
namespace tavoro::control::input {

// x and y clamped to [0, 1]; a value that is not a number becomes 0.
nlohmann::json mouseMove(double x, double y);
// button: "left", "right" or "middle".
nlohmann::json mouseButton(const std::string& button, bool down);
nlohmann::json wheel(int dx, int dy);
nlohmann::json key(int vk, bool down, bool ext = false);

} // namespace tavoro::control::input
