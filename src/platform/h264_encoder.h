#pragma once

#include "platform/pixel_buffer.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>

namespace tavoro::platform {

struct H264EncoderSettings {
    int width = 0;
    int height = 0;
    int fps = 30;        // time base 1/fps, one tick per submitted picture
    int bitrateKbps = 8000;
};

// How long the last picture took, for the diagnostics.
struct EncodeTimings {
    double convertMs = 0; // BGRX to the encoder's picture format
    double encodeMs = 0;
};

// One encoded picture as the encoder wrote it: an Annex-B byte stream (3- or 4-byte start codes),
// valid only during the call that receives it.
using EncodedOutput = std::function<void(std::span<const std::uint8_t> annexB, bool keyframe)>;

// An open H.264 encoder (Main profile, no frame reordering). Not thread-safe: one thread at a time,
// and output is delivered on the calling thread before encode() or flush() returns.
class H264Encoder {
public:
    virtual ~H264Encoder() = default;
    // Encodes one BGRX picture of the encoder's size; a picture of another size is dropped.
    virtual void encode(const PixelBuffer& picture, bool forceKeyframe, const EncodedOutput& output) = 0;
    // Changes the target bitrate of the open encoder; takes effect from the next picture.
    virtual void setBitrate(int kbps) = 0;
    // Delivers every picture still held by the encoder; nothing can be encoded afterwards.
    virtual void flush(const EncodedOutput& output) = 0;
    virtual EncodeTimings lastTimings() const = 0;
};

// Opens encoders. Returns nothing when the encoder cannot be opened with these settings.
class H264EncoderFactory {
public:
    virtual ~H264EncoderFactory() = default;
    virtual std::unique_ptr<H264Encoder> create(const H264EncoderSettings& settings) = 0;
};

} // namespace tavoro::platform
