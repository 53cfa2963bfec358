#pragma once

#include "platform/h264_decoder.h"
#include "platform/pixel_buffer.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tavoro::platform {

// Still pictures: what a peer sends as a whole image (PNG, JPEG, ...) and screenshots written as PNG.
// Pure conversions without I/O, callable from any thread.
class ImageCodec {
public:
    static constexpr int kMaxSide = 8192;

    virtual ~ImageCodec() = default;
    // The picture in BGRX at its own pixel size; nothing when the bytes are not a picture the codec
    // reads or when a side exceeds kMaxSide.
    virtual PixelBufferRef decodeImage(std::span<const std::uint8_t> bytes) = 0;
    // The decoded picture as PNG at its full size; nothing when the conversion fails.
    virtual std::optional<std::vector<std::uint8_t>> encodePng(const DecodedPicture& picture) = 0;
};

} // namespace tavoro::platform
