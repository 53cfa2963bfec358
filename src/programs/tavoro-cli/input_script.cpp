#include "programs/tavoro-cli/input_script.h"

#include "core/json_fields.h"

#include <cmath>

namespace tavoro::cli {

std::variant<std::monostate, ScriptStep, std::string> parseScriptLine(std::string_view line)
{
    const auto first = line.find_first_not_of(" \t\r");
    if (first == std::string_view::npos || line[first] == '#') {
        return std::monostate{};
    }
    auto value = json::parse(line);
    if (!value || !value->is_object()) {
        return std::string("not a JSON object");
    }
    if (value->contains("sleep")) {
        auto seconds = json::doubleField(*value, "sleep");
        if (!seconds || !std::isfinite(*seconds) || *seconds < 0 || *seconds > 3600) {
            return std::string("\"sleep\" needs seconds from 0 to 3600");
        }
        return ScriptStep{Pause{*seconds}};
    }
    if (json::stringField(*value, "kind").empty()) {
        return std::string("an input event needs a string \"kind\"");
    }
    value->erase("to");
    value->erase("call_id");
    value->erase("type");
    return ScriptStep{InputEvent{std::move(*value)}};
}

} // namespace tavoro::cli
