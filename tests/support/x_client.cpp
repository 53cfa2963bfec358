#include "support/x_client.h"

#include <thread>

namespace tavoro::test {

XClient::XClient(const std::string& display)
{
    if (auto opened = platform::X11Connection::open(display)) {
        connection_ = std::move(*opened);
        gc_ = xcb_generate_id(get());
        xcb_create_gc(get(), gc_, root(), 0, nullptr);
    }
}

xcb_window_t XClient::window(const platform::DisplayRect& area, std::uint32_t rgb, std::uint32_t eventMask)
{
    const xcb_window_t window = xcb_generate_id(get());
    const std::uint32_t values[] = {rgb, 1, eventMask};
    xcb_create_window(get(), XCB_COPY_FROM_PARENT, window, root(), static_cast<std::int16_t>(area.x),
        static_cast<std::int16_t>(area.y), static_cast<std::uint16_t>(area.width),
        static_cast<std::uint16_t>(area.height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
        XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
    xcb_map_window(get(), window);
    sync();
    return window;
}

void XClient::fill(xcb_drawable_t target, const platform::DisplayRect& area, std::uint32_t rgb)
{
    xcb_change_gc(get(), gc_, XCB_GC_FOREGROUND, &rgb);
    const xcb_rectangle_t rectangle{static_cast<std::int16_t>(area.x), static_cast<std::int16_t>(area.y),
        static_cast<std::uint16_t>(area.width), static_cast<std::uint16_t>(area.height)};
    xcb_poly_fill_rectangle(get(), target, gc_, 1, &rectangle);
    sync();
}

void XClient::focus(xcb_window_t window)
{
    xcb_set_input_focus(get(), XCB_INPUT_FOCUS_POINTER_ROOT, window, XCB_CURRENT_TIME);
    sync();
}

void XClient::warpPointer(int x, int y)
{
    xcb_warp_pointer(get(), XCB_NONE, root(), 0, 0, 0, 0, static_cast<std::int16_t>(x), static_cast<std::int16_t>(y));
    sync();
}

std::pair<int, int> XClient::pointer()
{
    auto reply = platform::takeReply(xcb_query_pointer_reply, get(), xcb_query_pointer(get(), root()));
    return reply ? std::make_pair(static_cast<int>(reply->root_x), static_cast<int>(reply->root_y))
                 : std::make_pair(-1, -1);
}

void XClient::sync()
{
    platform::takeReply(xcb_get_input_focus_reply, get(), xcb_get_input_focus(get()));
}

platform::XcbReply<xcb_generic_event_t> XClient::waitForEvent(std::uint8_t type, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        platform::XcbReply<xcb_generic_event_t> event(xcb_poll_for_event(get()));
        if (!event) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            continue;
        }
        if ((event->response_type & 0x7F) == type) {
            return event;
        }
    }
    return nullptr;
}

} // namespace tavoro::test
