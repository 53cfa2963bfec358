#pragma once

#include "platform/linux/screen_grabber.h"
#include "platform/pixel_buffer.h"

namespace tavoro::platform {

// Copies a BGRX image into the output picture, scaling it (bilinear) when the sizes differ.
void scaleInto(const ImageView& source, PixelBuffer& output);

} // namespace tavoro::platform
