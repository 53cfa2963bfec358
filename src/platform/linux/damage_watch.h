#pragma once

#include "platform/linux/change_tracker.h"
#include "platform/linux/xcb_handles.h"

#include <xcb/damage.h>
#include <xcb/xfixes.h>

#include <chrono>

namespace tavoro::platform {

// Follows what changes on the root window (XDamage) and tells a ChangeTracker which areas changed.
// Without the DAMAGE extension every tick counts as a change. Used by the connection's thread.
class DamageWatch {
public:
    explicit DamageWatch(const X11Connection& connection);

    // Reads the events that arrived since the last call and reports the damaged areas.
    void collect(ChangeTracker& tracker);
    // Waits at most `limit` for the display to change; true when it did (always true without DAMAGE,
    // where every tick counts as a change).
    bool waitForDamage(std::chrono::nanoseconds limit);

private:
    void drainEvents();

    const X11Connection& connection_;
    bool available_ = false;
    bool withRegions_ = false;
    std::uint8_t notifyEvent_ = 0;
    xcb_damage_damage_t damage_ = 0;
    xcb_xfixes_region_t region_ = 0;
    bool damaged_ = false;
};

} // namespace tavoro::platform
