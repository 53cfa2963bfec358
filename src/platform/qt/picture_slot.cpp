#include "platform/qt/picture_slot.h"

namespace tavoro::platform::qt {

void PictureSlot::put(const DecodedPicture& picture)
{
    std::lock_guard lock(mutex_);
    picture_ = picture;
    ++generation_;
}

void PictureSlot::drop()
{
    std::lock_guard lock(mutex_);
    picture_.reset();
    ++generation_;
}

PictureSlot::Held PictureSlot::latest() const
{
    std::lock_guard lock(mutex_);
    return {picture_, generation_};
}

} // namespace tavoro::platform::qt
