#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string_view>
#include <variant>

namespace tavoro::cli {

// One line of an input script: an input event (the fields of an "input" message) or a pause.
struct InputEvent {
    nlohmann::json fields;
};
struct Pause {
    double seconds = 0;
};
using ScriptStep = std::variant<InputEvent, Pause>;

// Nothing for a blank line or a comment starting with '#'; an error text for a line that is neither
// an object with a string "kind" nor {"sleep": seconds} with 0 ≤ seconds ≤ 3600.
std::variant<std::monostate, ScriptStep, std::string> parseScriptLine(std::string_view line);

} // namespace tavoro::cli
