#include "platform/linux/x11_displays.h"

#include <xcb/randr.h>

#include <algorithm>
#include <tuple>

namespace tavoro::platform {

namespace {

struct Monitor {
    DisplayInfo display;
    bool primary = false;
};

std::string atomName(const X11Connection& connection, xcb_atom_t atom)
{
    auto reply = takeReply(xcb_get_atom_name_reply, connection.get(), xcb_get_atom_name(connection.get(), atom));
    if (!reply) {
        return {};
    }
    return std::string(xcb_get_atom_name_name(reply.get()),
        static_cast<std::size_t>(xcb_get_atom_name_name_length(reply.get())));
}

// The part of rect that lies on a screen of the given size (empty when none does).
DisplayRect clipped(DisplayRect rect, int screenWidth, int screenHeight)
{
    const int left = std::max(rect.x, 0);
    const int top = std::max(rect.y, 0);
    const int right = std::min(rect.x + rect.width, screenWidth);
    const int bottom = std::min(rect.y + rect.height, screenHeight);
    return {left, top, std::max(right - left, 0), std::max(bottom - top, 0)};
}

bool supportsMonitors(const X11Connection& connection)
{
    if (!connection.hasExtension(xcb_randr_id)) {
        return false;
    }
    auto version = takeReply(xcb_randr_query_version_reply, connection.get(),
        xcb_randr_query_version(connection.get(), 1, 5));
    return version && (version->major_version > 1 || version->minor_version >= 5);
}

std::vector<Monitor> randrMonitors(const X11Connection& connection)
{
    std::vector<Monitor> monitors;
    if (!supportsMonitors(connection)) {
        return monitors;
    }
    auto reply = takeReply(xcb_randr_get_monitors_reply, connection.get(),
        xcb_randr_get_monitors(connection.get(), connection.root(), 1));
    if (!reply) {
        return monitors;
    }
    const auto& screen = connection.screen();
    for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem > 0;
         xcb_randr_monitor_info_next(&it)) {
        const auto& info = *it.data;
        const auto bounds = clipped({info.x, info.y, info.width, info.height}, screen.width_in_pixels,
            screen.height_in_pixels);
        if (bounds.width > 0 && bounds.height > 0) {
            monitors.push_back({{atomName(connection, info.name), bounds}, info.primary != 0});
        }
    }
    return monitors;
}

} // namespace

std::vector<DisplayInfo> listX11Displays(const X11Connection& connection)
{
    auto monitors = randrMonitors(connection);
    std::stable_sort(monitors.begin(), monitors.end(), [](const Monitor& a, const Monitor& b) {
        return std::tuple(!a.primary, a.display.bounds.x, a.display.bounds.y, a.display.name) <
            std::tuple(!b.primary, b.display.bounds.x, b.display.bounds.y, b.display.name);
    });
    std::vector<DisplayInfo> displays;
    for (auto& monitor : monitors) {
        displays.push_back(std::move(monitor.display));
    }
    if (displays.empty()) {
        const auto& screen = connection.screen();
        displays.push_back({"screen", {0, 0, screen.width_in_pixels, screen.height_in_pixels}});
    }
    return displays;
}

} // namespace tavoro::platform
