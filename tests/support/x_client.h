#pragma once

#include "platform/capture_source.h"
#include "platform/linux/xcb_handles.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

namespace tavoro::test {

// A small X client for tests: draws known pictures, watches events, asks where the pointer is.
// Colours are 0xRRGGBB (the pixel value on a 24-bit TrueColor screen).
class XClient {
public:
    explicit XClient(const std::string& display);

    bool connected() const { return connection_ != nullptr; }
    xcb_connection_t* get() const { return connection_->get(); }
    xcb_window_t root() const { return connection_->root(); }

    // A mapped override-redirect window of one colour, reporting the events of eventMask.
    xcb_window_t window(const platform::DisplayRect& area, std::uint32_t rgb, std::uint32_t eventMask = 0);
    void fill(xcb_drawable_t target, const platform::DisplayRect& area, std::uint32_t rgb);
    void focus(xcb_window_t window);
    void warpPointer(int x, int y);
    std::pair<int, int> pointer();
    // Waits until the server has handled every request sent so far.
    void sync();
    // The next event whose type is one of the masks' events, or nothing after the timeout.
    platform::XcbReply<xcb_generic_event_t> waitForEvent(std::uint8_t type,
        std::chrono::milliseconds timeout = std::chrono::seconds(5));

private:
    std::unique_ptr<platform::X11Connection> connection_;
    xcb_gcontext_t gc_ = 0;
};

} // namespace tavoro::test
