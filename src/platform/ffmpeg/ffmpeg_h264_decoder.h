#pragma once

#include "platform/h264_decoder.h"

namespace tavoro::platform {

// H.264 on libavcodec's own decoder: two slice threads (slices of one picture decode in parallel,
// so no picture is held back as frame threads would) and low delay, so that each access unit's
// picture comes out of the same decode() call. Pictures libavcodec flags as damaged are dropped.
class FfmpegH264DecoderFactory final : public H264DecoderFactory {
public:
    std::unique_ptr<H264Decoder> create() override;
};

} // namespace tavoro::platform
