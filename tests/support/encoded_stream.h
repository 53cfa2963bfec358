#pragma once

// Real H.264 access units for the decoder's tests and benchmarks: x264 encodes a textured picture with
// a square moving across it, so that delta pictures stay small and the encoder never cuts a scene.
#include "platform/ffmpeg/x264_encoder.h"

#include <cstdint>
#include <set>
#include <vector>

namespace tavoro::test {

using AccessUnit = std::vector<std::uint8_t>;

inline void paintMovingPicture(platform::PixelBuffer& picture, int step)
{
    const int boxSide = picture.height() / 4;
    const int boxX = (step * 8) % (picture.width() - boxSide);
    const int boxY = picture.height() / 3;
    for (int y = 0; y < picture.height(); ++y) {
        std::uint8_t* pixel = picture.row(y);
        for (int x = 0; x < picture.width(); ++x, pixel += 4) {
            const bool inBox = x >= boxX && x < boxX + boxSide && y >= boxY && y < boxY + boxSide;
            const bool dot = ((x * 7 + y * 13) % 29) < 3;
            pixel[0] = inBox ? 40 : static_cast<std::uint8_t>(dot ? 30 : x * 255 / picture.width());
            pixel[1] = inBox ? 200 : static_cast<std::uint8_t>(dot ? 30 : y * 255 / picture.height());
            pixel[2] = inBox ? 60 : 160;
            pixel[3] = 255;
        }
    }
}

// `count` access units of width × height as the encoder wrote them; the first and those in
// `keyframes` are keyframes (carrying their parameter sets).
inline std::vector<AccessUnit> encodeMovingStream(int width, int height, int count, const std::set<int>& keyframes = {})
{
    platform::X264EncoderFactory factory;
    auto encoder = factory.create({.width = width, .height = height});
    std::vector<AccessUnit> units;
    platform::PixelBuffer picture(width, height);
    for (int step = 0; encoder && step < count; ++step) {
        paintMovingPicture(picture, step);
        encoder->encode(picture, keyframes.contains(step),
            [&](std::span<const std::uint8_t> annexB, bool) { units.emplace_back(annexB.begin(), annexB.end()); });
    }
    return units;
}

} // namespace tavoro::test
