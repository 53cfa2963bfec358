#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace tavoro::platform {

// How long the capture source spent on one picture, for the diagnostics' per-stage figures.
struct CaptureTimings {
    double grabMs = 0;  // reading the screen, cursor included
    double scaleMs = 0; // copying or scaling to the output size
};

// One picture in 32-bit BGRX (byte order in memory B, G, R, then one undefined byte), one plane.
// Handed around as a PixelBufferRef: written once by its producer, then only read, by any thread.
class PixelBuffer {
public:
    PixelBuffer(int width, int height)
        : width_(width), height_(height), stride_(width * 4),
          bytes_(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4)
    {
    }

    int width() const { return width_; }
    int height() const { return height_; }
    int stride() const { return stride_; }
    std::uint8_t* data() { return bytes_.data(); }
    const std::uint8_t* data() const { return bytes_.data(); }
    std::uint8_t* row(int y) { return bytes_.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(stride_); }
    const std::uint8_t* row(int y) const
    {
        return bytes_.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(stride_);
    }

    CaptureTimings timings;

private:
    int width_;
    int height_;
    int stride_;
    std::vector<std::uint8_t> bytes_;
};

using PixelBufferRef = std::shared_ptr<const PixelBuffer>;

} // namespace tavoro::platform
