#pragma once

#include "platform/capture_source.h"

#include <cstdint>
#include <optional>
#include <span>

namespace tavoro::platform {

// Decides whether the picture of one display has to be captured again: after damage on the display,
// after the cursor moved or changed shape over it, on request, and once at the start. Idle ticks
// produce nothing. Used by one thread.
class ChangeTracker {
public:
    explicit ChangeTracker(const DisplayRect& display) : display_(display) {}

    void damaged(std::span<const DisplayRect> areas);
    // Damage whose extent is unknown counts as damage on this display.
    void damagedSomewhere() { pending_ = true; }
    // The cursor's area and shape serial on this tick.
    void cursorAt(const DisplayRect& area, std::uint32_t serial);
    void request() { pending_ = true; }

    bool pending() const { return pending_; }
    // Called once the current picture went out.
    void delivered() { pending_ = false; }

private:
    bool onDisplay(const DisplayRect& area) const;

    DisplayRect display_;
    bool pending_ = true;
    std::optional<DisplayRect> cursorArea_;
    std::uint32_t cursorSerial_ = 0;
};

} // namespace tavoro::platform
