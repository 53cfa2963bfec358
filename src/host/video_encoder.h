#pragma once

#include "host/access_unit.h"
#include "platform/h264_encoder.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace tavoro::host {

// Turns captured BGRX pictures into H.264 access units (Annex-B, 4-byte start codes, parameter sets
// in front of every keyframe) for one fixed size, on top of the platform's encoder.
//
// Threads: encode and finish are called by one thread at a time (the capture thread); onEncoded
// runs on that thread before encode returns. forceKeyframeNext and setBitrateKbps may be used from
// any thread: both are atomics read and cleared inside encode. Set onEncoded before the first
// encode.
class VideoEncoder {
public:
    // Yields nothing when the platform encoder cannot be opened for these settings.
    static std::unique_ptr<VideoEncoder> create(platform::H264EncoderFactory& factory, int width, int height,
        int fps, int bitrateKbps);
    ~VideoEncoder();
    VideoEncoder(const VideoEncoder&) = delete;
    VideoEncoder& operator=(const VideoEncoder&) = delete;

    std::function<void(std::vector<std::uint8_t> accessUnit, bool isKey)> onEncoded;
    // When set, the next submitted picture is encoded as a keyframe and the flag is cleared.
    std::atomic<bool> forceKeyframeNext{false};

    // Submits one picture; a picture of another size than the encoder's is dropped.
    void encode(const platform::PixelBuffer& picture);
    // Changes the target bitrate of the open encoder from the next picture on.
    void setBitrateKbps(int kbps);
    // Delivers what the encoder still holds and closes it; later pictures are dropped.
    void finish();

    int width() const { return width_; }
    int height() const { return height_; }
    std::int64_t frameIndex() const { return frameIndex_; }
    // Conversion and encoding time of the last picture (for diagnostics), on the encoding thread.
    platform::EncodeTimings lastTimings() const;

private:
    VideoEncoder(std::unique_ptr<platform::H264Encoder> encoder, int width, int height);
    void emit(std::span<const std::uint8_t> encoded, bool keyframe);

    std::unique_ptr<platform::H264Encoder> encoder_; // empty after finish()
    int width_;
    int height_;
    std::int64_t frameIndex_ = 0;
    std::atomic<int> pendingBitrateKbps_{0}; // 0 = no change pending
    AccessUnitWriter writer_;
};

} // namespace tavoro::host
