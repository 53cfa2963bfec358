#pragma once

#include "host/video_encoder.h"
#include "platform/h264_encoder.h"
#include "platform/pixel_buffer.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace tavoro::host {

// What the next picture's encoding should change.
struct EncodeRequest {
    int bitrateKbps = 8000;            // the bitrate a new encoder starts with
    std::optional<int> newBitrateKbps; // a bitrate for the running encoder (also makes a keyframe)
    bool keyframe = false;
};

// Captured pictures in, H.264 access units out: one encoder per picture size, made on the first
// picture of that size. An encoder that cannot be made is tried again on later pictures, with one
// log line per size rather than one per picture.
//
// Threads: encode and finish are called by one thread at a time (the capture thread, or the closing
// thread once capture has stopped); onEncoded runs on that thread before encode returns.
class EncodingStream {
public:
    EncodingStream(platform::H264EncoderFactory& factory, int fps) : factory_(factory), fps_(fps) {}

    // One access unit with the size of the encoder that made it.
    std::function<void(std::vector<std::uint8_t> accessUnit, bool isKey, int width, int height)> onEncoded;

    void encode(const platform::PixelBuffer& picture, int width, int height, const EncodeRequest& request);
    // Delivers what the encoder still holds and drops it; a later picture makes a new one.
    void finish();

    bool hasEncoder() const { return encoder_ != nullptr; }
    const VideoEncoder* encoder() const { return encoder_.get(); }

private:
    bool ensureEncoder(int width, int height, int bitrateKbps);

    platform::H264EncoderFactory& factory_;
    int fps_;
    std::unique_ptr<VideoEncoder> encoder_;
    std::optional<std::pair<int, int>> failedSize_; // the size whose encoder failed last, logged once
};

} // namespace tavoro::host
