#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

namespace tavoro::cli {

// One line of an input script, read: nothing to do, an input event (the fields of an "input"
// message), a pause, or a line that is neither (with the reason).
struct ScriptLine {
    enum class Kind { blank, event, pause, invalid };
    Kind kind = Kind::blank;
    nlohmann::json fields; // event
    double seconds = 0;    // pause
    std::string error;     // invalid
};

// Blank lines and comments starting with '#' are blank; an object with a string "kind" is an event;
// {"sleep": seconds} with 0 ≤ seconds ≤ 3600 is a pause; anything else is invalid.
ScriptLine parseScriptLine(std::string_view line);

} // namespace tavoro::cli
