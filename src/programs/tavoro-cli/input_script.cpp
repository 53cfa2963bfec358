#include "programs/tavoro-cli/input_script.h"

#include "core/json_fields.h"

#include <cmath>

namespace tavoro::cli {
namespace {

ScriptLine invalid(std::string reason) { return {ScriptLine::Kind::invalid, {}, 0, std::move(reason)}; }

} // namespace

ScriptLine parseScriptLine(std::string_view line)
{
    const auto first = line.find_first_not_of(" \t\r");
    if (first == std::string_view::npos || line[first] == '#') {
        return {};
    }
    auto value = json::parse(line);
    if (!value || !value->is_object()) {
        return invalid("not a JSON object");
    }
    if (value->contains("sleep")) {
        auto seconds = json::doubleField(*value, "sleep");
        if (!seconds || !std::isfinite(*seconds) || *seconds < 0 || *seconds > 3600) {
            return invalid("\"sleep\" needs seconds from 0 to 3600");
        }
        return {ScriptLine::Kind::pause, {}, *seconds, {}};
    }
    if (json::stringField(*value, "kind").empty()) {
        return invalid("an input event needs a string \"kind\"");
    }
    value->erase("to");
    value->erase("call_id");
    value->erase("type");
    return {ScriptLine::Kind::event, std::move(*value), 0, {}};
}

} // namespace tavoro::cli
