#pragma once

#include "platform/capture_source.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tavoro::host {

// The display that index `to` selects among `count` displays: any integer, negative ones included,
// wraps onto 0 … count − 1. count must be positive.
int wrapDisplayIndex(std::int64_t to, int count);

// Produces one display of the host as a stream of BGRX pictures at a bounded size and frame rate,
// on top of the platform's capture source.
//
// Threads: start, switchDisplay, setFps, refresh and stop may be called from any thread; they are
// serialised by operationMutex_, which is held while they call onDisplays, onDisplayBounds and
// onError and while an old stream is stopped. onFrame and the engine's stop report (onError) run on
// the stream's thread, never overlapping. No callback may call an operation of this capturer, and
// the capturer must not be destroyed from inside a callback. The callbacks are set before start.
class ScreenCapturer {
public:
    ScreenCapturer(platform::CaptureSource& source, int fps);
    ~ScreenCapturer();
    ScreenCapturer(const ScreenCapturer&) = delete;
    ScreenCapturer& operator=(const ScreenCapturer&) = delete;

    // Each accepted picture with the current output size.
    std::function<void(const platform::PixelBufferRef& picture, int width, int height)> onFrame;
    // Every failure, as one line of text.
    std::function<void(const std::string& message)> onError;
    // The number of displays and the selected index.
    std::function<void(int count, int index)> onDisplays;
    // The bounds of the display being captured, whenever one is selected; input follows them.
    std::function<void(const platform::DisplayRect& bounds)> onDisplayBounds;

    // Lists the displays and captures the selected one.
    void start();
    // Selects display `to`, wrapped onto the known displays, and captures it.
    void switchDisplay(std::int64_t to);
    // Changes the frame rate without restarting the stream.
    void setFps(int fps);
    // Asks for the current picture even when nothing changed (a still screen otherwise sends none).
    void refresh();
    // Stops the stream and forgets the display list.
    void stop();

    int outWidth() const;
    int outHeight() const;
    int fps() const;
    int index() const;
    int displayCount() const;

private:
    void setUpStream();
    void selectDisplay(int count);
    void handleSample(const platform::CaptureSample& sample, int width, int height);
    void reportError(const std::string& message);
    std::unique_ptr<platform::CaptureStream> takeStream();

    platform::CaptureSource& source_;
    std::mutex operationMutex_; // serialises the operations; guards stream_ and config_
    std::unique_ptr<platform::CaptureStream> stream_;
    std::optional<platform::StreamConfig> config_;

    mutable std::mutex stateMutex_; // guards the fields below, which the getters read
    int outWidth_ = 0;
    int outHeight_ = 0;
    int fps_;
    std::vector<platform::DisplayInfo> displays_;
    int index_ = 0;
};

} // namespace tavoro::host
