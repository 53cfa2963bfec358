#pragma once

#include "platform/image_codec.h"

namespace tavoro::platform {

// Still pictures on libavcodec's image codecs: PNG, JPEG, BMP, GIF (its first picture) and WebP are
// read, told apart by their first bytes; libswscale converts them to BGRX. Pictures with a side over
// kMaxSide are refused before their pixels are allocated. PNG is written from I420 with libyuv.
// Stateless: any thread, any number at once.
class FfmpegImageCodec final : public ImageCodec {
public:
    PixelBufferRef decodeImage(std::span<const std::uint8_t> bytes) override;
    std::optional<std::vector<std::uint8_t>> encodePng(const DecodedPicture& picture) override;
};

} // namespace tavoro::platform
