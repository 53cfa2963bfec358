#pragma once

#include "platform/h264_decoder.h"
#include "platform/pixel_buffer.h"

namespace tavoro::platform {

// Converts a decoded picture into `target` (BGRX, the fourth byte 255) with libyuv. Returns false,
// leaving `target` untouched, when the sizes differ. Any thread; reads the picture only.
bool convertToBgrx(const DecodedPicture& picture, PixelBuffer& target);

} // namespace tavoro::platform
