#include "platform/linux/cursor_overlay.h"

#include <algorithm>

namespace tavoro::platform {

namespace {

// dst × (255 − alpha) / 255, rounded, for one 8-bit channel.
std::uint8_t underAlpha(std::uint8_t dst, std::uint32_t inverseAlpha)
{
    const std::uint32_t product = dst * inverseAlpha + 128;
    return static_cast<std::uint8_t>((product + (product >> 8)) >> 8);
}

void blendPixel(std::uint8_t* bgrx, std::uint32_t argb)
{
    const std::uint32_t alpha = argb >> 24;
    if (alpha == 0 && (argb & 0xFFFFFF) == 0) {
        return;
    }
    const std::uint32_t inverse = 255 - alpha;
    for (int channel = 0; channel < 3; ++channel) {
        const auto source = (argb >> (8 * channel)) & 0xFF; // B, G, R
        const auto sum = source + underAlpha(bgrx[channel], inverse);
        bgrx[channel] = static_cast<std::uint8_t>(std::min<std::uint32_t>(sum, 255));
    }
}

} // namespace

void drawCursor(const ImageView& image, int originX, int originY, const CursorPicture& cursor)
{
    if (!cursor.pixels) {
        return;
    }
    const int left = std::max(cursor.area.x - originX, 0);
    const int top = std::max(cursor.area.y - originY, 0);
    const int right = std::min(cursor.area.x + cursor.area.width - originX, image.width);
    const int bottom = std::min(cursor.area.y + cursor.area.height - originY, image.height);
    for (int y = top; y < bottom; ++y) {
        const int cursorRow = y + originY - cursor.area.y;
        const std::uint32_t* source = cursor.pixels + static_cast<std::ptrdiff_t>(cursorRow) * cursor.area.width;
        std::uint8_t* target = image.data + static_cast<std::ptrdiff_t>(y) * image.stride;
        for (int x = left; x < right; ++x) {
            blendPixel(target + 4 * x, source[x + originX - cursor.area.x]);
        }
    }
}

CursorSource::CursorSource(const X11Connection& connection) : connection_(connection)
{
    if (!connection.hasExtension(xcb_xfixes_id)) {
        return;
    }
    auto version = takeReply(xcb_xfixes_query_version_reply, connection.get(),
        xcb_xfixes_query_version(connection.get(), 4, 0));
    available_ = version && version->major_version >= 1;
}

std::optional<CursorPicture> CursorSource::fetch()
{
    if (!available_) {
        return std::nullopt;
    }
    reply_ = takeReply(xcb_xfixes_get_cursor_image_reply, connection_.get(),
        xcb_xfixes_get_cursor_image(connection_.get()));
    if (!reply_) {
        return std::nullopt;
    }
    const auto& r = *reply_;
    const auto count = static_cast<std::size_t>(r.width) * r.height;
    if (static_cast<std::size_t>(xcb_xfixes_get_cursor_image_cursor_image_length(reply_.get())) < count) {
        return std::nullopt;
    }
    return CursorPicture{{r.x - r.xhot, r.y - r.yhot, r.width, r.height},
        xcb_xfixes_get_cursor_image_cursor_image(reply_.get()), r.cursor_serial};
}

} // namespace tavoro::platform
