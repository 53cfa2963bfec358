#pragma once

#include "core/result.h"
#include "platform/pixel_buffer.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tavoro::platform {

// A rectangle in the global display space, in pixels.
struct DisplayRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    bool operator==(const DisplayRect&) const = default;
};

// One display that can be captured. Its pixel size is the size of its bounds.
struct DisplayInfo {
    std::string name;
    DisplayRect bounds;

    bool operator==(const DisplayInfo&) const = default;
};

// What a sample carries: only complete samples hold a new picture.
enum class FrameStatus { complete, idle, blank, suspended, started, stopped };

struct CaptureSample {
    FrameStatus status = FrameStatus::complete;
    PixelBufferRef buffer; // may be empty
};

struct StreamConfig {
    int width = 0;  // output size: the display is scaled to it
    int height = 0;
    int fps = 30;   // minimum frame interval = 1 / fps seconds
    bool showsCursor = true;
    int queueDepth = 5; // pictures in flight at most; further ones are not produced
};

// Where a stream reports. Both run on the stream's own thread, one call at a time.
struct StreamHandlers {
    std::function<void(CaptureSample)> onSample;
    // The engine stopped the stream by itself; the text says why. No sample follows.
    std::function<void(const std::string&)> onStopped;
};

// A running capture of one display. Destroying it stops it and waits until no handler runs any more,
// so it must not be destroyed from inside its own handlers. The operations may be called from any
// thread, one at a time.
class CaptureStream {
public:
    virtual ~CaptureStream() = default;
    // Starts delivering samples, or says why the stream cannot start.
    virtual Result<> start() = 0;
    // Changes the minimum frame interval of the running stream.
    virtual Result<> setFps(int fps) = 0;
    // Asks for the current picture even when nothing changed on the screen (a still screen
    // otherwise sends nothing).
    virtual void requestFrame() = 0;
};

// The platform's screen capture engine. Operations may be called from any thread.
class CaptureSource {
public:
    virtual ~CaptureSource() = default;
    // The displays in a stable order, or why they could not be listed.
    virtual Result<std::vector<DisplayInfo>> displays() = 0;
    // Sets up (but does not start) a stream on the display with the given configuration.
    virtual Result<std::unique_ptr<CaptureStream>> openStream(const DisplayInfo& display, const StreamConfig& config,
        StreamHandlers handlers) = 0;
};

} // namespace tavoro::platform
