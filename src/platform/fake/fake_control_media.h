#pragma once

#include "platform/h264_decoder.h"
#include "platform/image_codec.h"

namespace tavoro::platform::fake {

// Opens no decoder: for tests that look at everything around the pictures.
struct NoH264Decoders final : H264DecoderFactory {
    std::unique_ptr<H264Decoder> create() override { return nullptr; }
};

// Reads any payload of at least four bytes as a picture of (first byte) × (second byte) pixels and
// writes no PNG.
struct TinyImageCodec final : ImageCodec {
    PixelBufferRef decodeImage(std::span<const std::uint8_t> bytes) override
    {
        return bytes.size() >= 4 ? std::make_shared<PixelBuffer>(bytes[0], bytes[1]) : nullptr;
    }
    std::optional<std::vector<std::uint8_t>> encodePng(const DecodedPicture&) override { return std::nullopt; }
};

} // namespace tavoro::platform::fake
