#pragma once

#include "platform/capture_source.h"
#include "platform/linux/xcb_handles.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace tavoro::platform {

// A writable view on BGRX pixels owned by someone else.
struct ImageView {
    std::uint8_t* data = nullptr;
    int stride = 0;
    int width = 0;
    int height = 0;
};

// Reads one fixed rectangle of the root window as BGRX. Used by the thread that owns the connection.
class ScreenGrabber {
public:
    virtual ~ScreenGrabber() = default;
    // The pixels, valid and writable until the next grab or the grabber's end; nothing on failure.
    virtual std::optional<ImageView> grab() = 0;
};

enum class GrabMethod { sharedMemory, getImage };

// A grabber for the area on this connection: shared memory when asked and the server offers it,
// else plain GetImage. Fails when the screen's pixel format is not 32-bit little-endian.
Result<std::unique_ptr<ScreenGrabber>> makeScreenGrabber(const X11Connection& connection, const DisplayRect& area,
    GrabMethod preferred);

} // namespace tavoro::platform
