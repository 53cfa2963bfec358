#pragma once

#include "platform/h264_encoder.h"

namespace tavoro::platform {

// H.264 on libavcodec's libx264: Main profile (CABAC on the ultrafast preset), tune zerolatency, no
// B-frames, a keyframe at least every 2 × fps pictures, VBV-bound rate control so that a bitrate
// change takes effect on the open encoder, at most two (slice) threads. Pictures are converted from
// BGRX to I420 with libyuv.
class X264EncoderFactory final : public H264EncoderFactory {
public:
    std::unique_ptr<H264Encoder> create(const H264EncoderSettings& settings) override;
};

} // namespace tavoro::platform
