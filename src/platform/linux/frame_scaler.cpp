#include "platform/linux/frame_scaler.h"

#include <libyuv.h>

namespace tavoro::platform {

void scaleInto(const ImageView& source, PixelBuffer& output)
{
    if (source.width == output.width() && source.height == output.height()) {
        libyuv::ARGBCopy(source.data, source.stride, output.data(), output.stride(), source.width, source.height);
        return;
    }
    libyuv::ARGBScale(source.data, source.stride, source.width, source.height, output.data(), output.stride(),
        output.width(), output.height(), libyuv::kFilterBilinear);
}

} // namespace tavoro::platform
