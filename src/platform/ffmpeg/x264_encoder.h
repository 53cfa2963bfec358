#pragma once

#include "platform/h264_encoder.h"

#include <string>

namespace tavoro::platform {

// H.264 on libavcodec's libx264: Main profile (CABAC on the ultrafast preset), tune zerolatency, no
// B-frames, a keyframe at least every 2 × fps pictures, VBV-bound rate control so that a bitrate
// change takes effect on the open encoder, at most two (slice) threads. Pictures are converted from
// BGRX to I420 with libyuv.
class X264EncoderFactory final : public H264EncoderFactory {
public:
    // The x264 preset trades speed for compression; any preset gives Main profile here (benchmarks
    // compare them; the host keeps the default).
    explicit X264EncoderFactory(std::string preset = "ultrafast") : preset_(std::move(preset)) {}

    std::unique_ptr<H264Encoder> create(const H264EncoderSettings& settings) override;

private:
    std::string preset_;
};

} // namespace tavoro::platform
