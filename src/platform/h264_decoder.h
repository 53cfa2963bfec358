#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

namespace tavoro::platform {

// One plane of a decoded picture: rows of `stride` bytes, of which the picture uses the first
// (plane width) bytes.
struct PicturePlane {
    const std::uint8_t* data = nullptr;
    int stride = 0;
};

// One decoded picture in 8-bit I420: a full-size luma plane (Y), then the two chroma planes (U, V)
// of half the width and height, rounded up; BT.601 video range unless fullRange. Copying the picture
// shares its planes, which stay valid as long as any copy holds `storage`; they are never written
// again, so a copy may be read by any thread.
struct DecodedPicture {
    int width = 0;
    int height = 0;
    bool fullRange = false;
    std::array<PicturePlane, 3> planes;
    std::shared_ptr<const void> storage;
};

// Receives each decoded picture on the thread that called decode() or flush(), before that call returns.
using DecodedOutput = std::function<void(const DecodedPicture& picture)>;

// An open H.264 decoder that shows every picture as soon as it is decoded (no frame of delay for a
// stream without reordering). Not thread-safe: one thread at a time.
class H264Decoder {
public:
    virtual ~H264Decoder() = default;
    // Decodes one Annex-B access unit (a keyframe's unit carries its parameter sets in front) and
    // delivers its picture, if any. Returns false when the decoder rejects the bytes or reports the
    // picture damaged, which drops it. Delta pictures whose keyframe the decoder has not seen give no
    // picture, so decoding starts again at the next keyframe. A unit cut inside its slices may still
    // give a picture whose missing part is stale.
    virtual bool decode(std::span<const std::uint8_t> accessUnit, const DecodedOutput& output) = 0;
    // Delivers every picture the decoder still holds, then waits for the next keyframe.
    virtual void flush(const DecodedOutput& output) = 0;
};

// Opens decoders. Returns nothing when no decoder can be opened.
class H264DecoderFactory {
public:
    virtual ~H264DecoderFactory() = default;
    virtual std::unique_ptr<H264Decoder> create() = 0;
};

} // namespace tavoro::platform
