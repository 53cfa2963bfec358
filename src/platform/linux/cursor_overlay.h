#pragma once

#include "platform/capture_source.h"
#include "platform/linux/screen_grabber.h"
#include "platform/linux/xcb_handles.h"

#include <xcb/xfixes.h>

#include <cstdint>
#include <optional>

namespace tavoro::platform {

// A cursor picture placed on the screen: premultiplied ARGB pixels (0xAARRGGBB), row after row.
struct CursorPicture {
    DisplayRect area;             // where its top-left pixel lies, in root coordinates
    const std::uint32_t* pixels = nullptr;
    std::uint32_t serial = 0;     // changes whenever the cursor's shape changes
};

// Draws the cursor over an image whose top-left pixel lies at (originX, originY) on the root window.
// Only the overlapping part is drawn.
void drawCursor(const ImageView& image, int originX, int originY, const CursorPicture& cursor);

// The current cursor of an X server (XFixes), kept until the next fetch.
class CursorSource {
public:
    explicit CursorSource(const X11Connection& connection);
    // Whether the server can tell the cursor at all.
    bool available() const { return available_; }
    // Fetches the cursor's shape and position; nothing when the server does not answer.
    std::optional<CursorPicture> fetch();

private:
    const X11Connection& connection_;
    bool available_ = false;
    XcbReply<xcb_xfixes_get_cursor_image_reply_t> reply_;
};

} // namespace tavoro::platform
