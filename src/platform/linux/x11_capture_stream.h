#pragma once

#include "platform/capture_source.h"
#include "platform/linux/change_tracker.h"
#include "platform/linux/cursor_overlay.h"
#include "platform/linux/damage_watch.h"
#include "platform/linux/pixel_buffer_pool.h"
#include "platform/linux/screen_grabber.h"
#include "platform/linux/x11_capture_source.h"
#include "platform/linux/xcb_handles.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace tavoro::platform {

// One display captured on its own X connection by its own thread ("tavoro.capture"). The thread
// ticks at the frame rate; on a tick it reads damage and cursor and grabs only when something
// changed on the display or a picture was requested. After a tick without a grab, a change on the
// display starts the next tick at once, so a still screen's first change is not held back a frame.
//
// Threads: the operations come from any thread, one at a time. mutex_ guards interval_ and
// stopping_; requested_ is atomic; everything else belongs to the capture thread once started.
class X11CaptureStream final : public CaptureStream {
public:
    // Connects and prepares the grab.
    static Result<std::unique_ptr<X11CaptureStream>> open(const X11CaptureOptions& options,
        const DisplayInfo& display, const StreamConfig& config, StreamHandlers handlers);
    ~X11CaptureStream() override;

    Result<> start() override;
    Result<> setFps(int fps) override;
    void requestFrame() override;

private:
    X11CaptureStream(std::unique_ptr<X11Connection> connection, const DisplayInfo& display,
        const StreamConfig& config, StreamHandlers handlers);
    void run();
    enum class TickResult { stopped, idle, grabbed };
    // One frame interval's work.
    TickResult tick();
    // False when the screen could not be read.
    bool grabAndDeliver(const std::optional<CursorPicture>& cursor);
    // Waits until `next`, or after an idle tick until the display changes; false when stopping.
    bool waitForTick(std::chrono::steady_clock::time_point next, bool idle);

    std::unique_ptr<X11Connection> connection_;
    std::unique_ptr<ScreenGrabber> grabber_;
    std::unique_ptr<DamageWatch> damage_;
    std::unique_ptr<CursorSource> cursor_; // empty when the cursor is not shown
    DisplayInfo display_;
    StreamConfig config_;
    StreamHandlers handlers_;
    ChangeTracker tracker_;
    PixelBufferPool pool_;

    std::mutex mutex_; // guards interval_ and stopping_
    std::condition_variable wake_;
    std::chrono::nanoseconds interval_;
    bool stopping_ = false;
    std::atomic<bool> requested_{false};
    std::thread thread_;
};

} // namespace tavoro::platform
