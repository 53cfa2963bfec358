// Any bytes as an access unit: the decoder neither crashes nor reads outside its input, and every
// picture it delivers can be read in full.
#include "platform/ffmpeg/ffmpeg_h264_decoder.h"
#include "platform/ffmpeg/picture_to_bgrx.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const auto decoder = tavoro::platform::FfmpegH264DecoderFactory().create(); // one stream across inputs
    decoder->decode({data, size}, [](const tavoro::platform::DecodedPicture& picture) {
        tavoro::platform::PixelBuffer bgrx(picture.width, picture.height);
        if (!tavoro::platform::convertToBgrx(picture, bgrx)) {
            std::abort();
        }
    });
    return 0;
}
