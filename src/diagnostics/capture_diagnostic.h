#pragma once

#include <iosfwd>
#include <string>

namespace tavoro::diagnostics {

struct CaptureOptions {
    int frames = 100;
    std::string out;
    int monitor = 0;
    int fps = 30;
    int bitrateKbps = 8000;
    double seconds = 10; // a still screen sends no frames, so the recording also ends after this time
    std::string display; // empty: $DISPLAY
};

// `tavoro-host capture`: records the local screen through the host's capturer and encoder into a
// raw Annex-B file and prints what was captured with per-stage timings. Returns 0 when at least one
// frame was written, 1 when capture or encoding failed, 2 for unusable options.
int runCaptureDiagnostic(const CaptureOptions& options, std::ostream& out, std::ostream& err);

} // namespace tavoro::diagnostics
