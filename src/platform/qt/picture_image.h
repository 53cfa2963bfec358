#pragma once

#include "platform/h264_decoder.h"

#include <QImage>
#include <QSize>

namespace tavoro::platform::qt {

// The picture scaled to `size` device pixels and converted to RGB32 with libyuv (BT.601, video or full
// range as the picture says). A null image when either size has no area or libyuv fails. Any thread.
QImage pictureImage(const DecodedPicture& picture, QSize size);

} // namespace tavoro::platform::qt
