#include "platform/linux/damage_watch.h"

#include <poll.h>

#include <vector>

namespace tavoro::platform {

DamageWatch::DamageWatch(const X11Connection& connection) : connection_(connection)
{
    auto* c = connection.get();
    if (!connection.hasExtension(xcb_damage_id)) {
        return;
    }
    if (connection.hasExtension(xcb_xfixes_id)) {
        auto fixes = takeReply(xcb_xfixes_query_version_reply, c, xcb_xfixes_query_version(c, 4, 0));
        withRegions_ = fixes && fixes->major_version >= 2;
    }
    auto version = takeReply(xcb_damage_query_version_reply, c, xcb_damage_query_version(c, 1, 1));
    if (!version) {
        return;
    }
    damage_ = xcb_generate_id(c);
    if (!succeeded(c, xcb_damage_create_checked(c, damage_, connection.root(),
            XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY))) {
        return;
    }
    if (withRegions_) {
        region_ = xcb_generate_id(c);
        withRegions_ = succeeded(c, xcb_xfixes_create_region_checked(c, region_, 0, nullptr));
    }
    notifyEvent_ = static_cast<std::uint8_t>(connection.firstEvent(xcb_damage_id) + XCB_DAMAGE_NOTIFY);
    available_ = true;
}

void DamageWatch::drainEvents()
{
    while (XcbReply<xcb_generic_event_t> event{xcb_poll_for_event(connection_.get())}) {
        if ((event->response_type & 0x7F) == notifyEvent_) {
            damaged_ = true;
        }
    }
}

bool DamageWatch::waitForDamage(std::chrono::nanoseconds limit)
{
    if (!available_) {
        return true;
    }
    drainEvents();
    if (!damaged_ && limit > std::chrono::nanoseconds::zero()) {
        pollfd socket{xcb_get_file_descriptor(connection_.get()), POLLIN, 0};
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(limit).count();
        if (::poll(&socket, 1, static_cast<int>(ms)) > 0) {
            drainEvents();
        }
    }
    return damaged_;
}

void DamageWatch::collect(ChangeTracker& tracker)
{
    if (!available_) {
        tracker.damagedSomewhere();
        return;
    }
    drainEvents();
    if (!damaged_) {
        return;
    }
    damaged_ = false;
    auto* c = connection_.get();
    // Repairing before the grab means that whatever changes after this point raises a new event.
    if (!withRegions_) {
        xcb_damage_subtract(c, damage_, XCB_NONE, XCB_NONE);
        xcb_flush(c);
        tracker.damagedSomewhere();
        return;
    }
    xcb_damage_subtract(c, damage_, XCB_NONE, region_);
    auto reply = takeReply(xcb_xfixes_fetch_region_reply, c, xcb_xfixes_fetch_region(c, region_));
    if (!reply) {
        tracker.damagedSomewhere();
        return;
    }
    std::vector<DisplayRect> areas;
    const auto* rectangles = xcb_xfixes_fetch_region_rectangles(reply.get());
    const int count = xcb_xfixes_fetch_region_rectangles_length(reply.get());
    areas.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        areas.push_back({rectangles[i].x, rectangles[i].y, rectangles[i].width, rectangles[i].height});
    }
    tracker.damaged(areas);
}

} // namespace tavoro::platform
