#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace tavoro::diagnostics {

struct InjectOptions {
    std::vector<std::string> messages; // one JSON input message each
    int monitor = 0;                   // the display positions map onto at first
    std::string display;               // empty: $DISPLAY
};

// `tavoro-host inject`: replays input messages through the host's injector on the local X display.
// "set_monitor" moves the injection rectangle to another display, as a switch of the captured
// display does in a session. Returns 0 once all are injected, 1 when the display cannot be used,
// 2 when an argument is not a JSON object (then nothing is injected).
int runInjectDiagnostic(const InjectOptions& options, std::ostream& out, std::ostream& err);

} // namespace tavoro::diagnostics
