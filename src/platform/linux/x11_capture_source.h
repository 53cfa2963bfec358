#pragma once

#include "platform/capture_source.h"
#include "platform/linux/screen_grabber.h"

#include <string>

namespace tavoro::platform {

struct X11CaptureOptions {
    std::string display;                          // empty: $DISPLAY
    GrabMethod grabMethod = GrabMethod::sharedMemory; // GetImage is the fallback either way
};

// Screen capture on an X server. Displays are the RandR monitors; each stream runs its own
// connection on its own thread ("tavoro.capture"), grabs only when XDamage reports a change on its
// display, the cursor moved over it, or a picture was requested, draws the cursor in (XFixes) and
// scales to the configured size. Safe from any thread.
class X11CaptureSource final : public CaptureSource {
public:
    explicit X11CaptureSource(X11CaptureOptions options = {}) : options_(std::move(options)) {}

    Result<std::vector<DisplayInfo>> displays() override;
    Result<std::unique_ptr<CaptureStream>> openStream(const DisplayInfo& display, const StreamConfig& config,
        StreamHandlers handlers) override;

private:
    X11CaptureOptions options_;
};

} // namespace tavoro::platform
