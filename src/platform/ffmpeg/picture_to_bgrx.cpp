#include "platform/ffmpeg/picture_to_bgrx.h"

#include <libyuv.h>

namespace tavoro::platform {

bool convertToBgrx(const DecodedPicture& picture, PixelBuffer& target)
{
    if (picture.width != target.width() || picture.height != target.height()) {
        return false;
    }
    const auto& [y, u, v] = picture.planes;
    const auto convert = picture.fullRange ? libyuv::J420ToARGB : libyuv::I420ToARGB;
    return convert(y.data, y.stride, u.data, u.stride, v.data, v.stride, target.data(), target.stride(), picture.width,
               picture.height) == 0;
}

} // namespace tavoro::platform
