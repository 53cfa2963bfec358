#include "platform/linux/change_tracker.h"

#include <algorithm>

namespace tavoro::platform {

bool ChangeTracker::onDisplay(const DisplayRect& area) const
{
    return area.width > 0 && area.height > 0 && area.x < display_.x + display_.width &&
        display_.x < area.x + area.width && area.y < display_.y + display_.height &&
        display_.y < area.y + area.height;
}

void ChangeTracker::damaged(std::span<const DisplayRect> areas)
{
    if (std::any_of(areas.begin(), areas.end(), [this](const DisplayRect& area) { return onDisplay(area); })) {
        pending_ = true;
    }
}

void ChangeTracker::cursorAt(const DisplayRect& area, std::uint32_t serial)
{
    const bool changed = !cursorArea_ || *cursorArea_ != area || serial != cursorSerial_;
    if (changed && (onDisplay(area) || (cursorArea_ && onDisplay(*cursorArea_)))) {
        pending_ = true;
    }
    cursorArea_ = area;
    cursorSerial_ = serial;
}

} // namespace tavoro::platform
