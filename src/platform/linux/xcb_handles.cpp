#include "platform/linux/xcb_handles.h"

#include <cstdlib>

namespace tavoro::platform {

Result<std::unique_ptr<X11Connection>> X11Connection::open(const std::string& displayName)
{
    const char* name = displayName.empty() ? nullptr : displayName.c_str();
    int screenNumber = 0;
    std::unique_ptr<xcb_connection_t, Disconnect> connection(xcb_connect(name, &screenNumber));
    const char* shown = name ? name : std::getenv("DISPLAY");
    if (xcb_connection_has_error(connection.get())) {
        return Failure{std::string("无法连接 X 显示 ") + (shown && *shown ? shown : "（未设置 DISPLAY）")};
    }
    auto screens = xcb_setup_roots_iterator(xcb_get_setup(connection.get()));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i) {
        xcb_screen_next(&screens);
    }
    if (screens.rem <= 0) {
        return Failure{std::string("X 显示没有可用屏幕 ") + (shown ? shown : "")};
    }
    return std::unique_ptr<X11Connection>(new X11Connection(std::move(connection), screens.data));
}

bool X11Connection::hasExtension(xcb_extension_t& extension) const
{
    const auto* data = xcb_get_extension_data(connection_.get(), &extension);
    return data && data->present;
}

std::uint8_t X11Connection::firstEvent(xcb_extension_t& extension) const
{
    const auto* data = xcb_get_extension_data(connection_.get(), &extension);
    return data ? data->first_event : 0;
}

} // namespace tavoro::platform
