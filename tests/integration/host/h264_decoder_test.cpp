#include "platform/ffmpeg/ffmpeg_h264_decoder.h"
#include "platform/ffmpeg/picture_to_bgrx.h"
#include "platform/ffmpeg/x264_encoder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace tavoro::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int width = 320;
constexpr int height = 180;

struct Colour {
    std::uint8_t b, g, r;
};

PixelBuffer solidPicture(Colour colour, int pictureWidth, int pictureHeight)
{
    PixelBuffer picture(pictureWidth, pictureHeight);
    for (int y = 0; y < pictureHeight; ++y) {
        for (int x = 0; x < pictureWidth; ++x) {
            auto* pixel = picture.row(y) + 4 * x;
            pixel[0] = colour.b;
            pixel[1] = colour.g;
            pixel[2] = colour.r;
        }
    }
    return picture;
}

// Access units of solid pictures in these colours; `keyframes` marks the pictures forced to be keyframes.
std::vector<Bytes> encode(const std::vector<Colour>& colours, const std::vector<bool>& keyframes = {},
    int pictureWidth = width, int pictureHeight = height)
{
    X264EncoderFactory factory;
    auto encoder = factory.create({.width = pictureWidth, .height = pictureHeight});
    std::vector<Bytes> units;
    for (std::size_t i = 0; i < colours.size(); ++i) {
        const bool key = i < keyframes.size() && keyframes[i];
        encoder->encode(solidPicture(colours[i], pictureWidth, pictureHeight), key,
            [&](std::span<const std::uint8_t> annexB, bool) { units.emplace_back(annexB.begin(), annexB.end()); });
    }
    return units;
}

class H264DecoderTest : public ::testing::Test {
protected:
    // Decodes one access unit; returns how many pictures came out of that very call.
    int decode(std::span<const std::uint8_t> accessUnit)
    {
        const auto before = pictures.size();
        decoder->decode(accessUnit, [this](const DecodedPicture& picture) { pictures.push_back(picture); });
        return static_cast<int>(pictures.size() - before);
    }

    FfmpegH264DecoderFactory factory;
    std::unique_ptr<H264Decoder> decoder = factory.create();
    std::vector<DecodedPicture> pictures;
};

void expectColour(const DecodedPicture& picture, Colour colour)
{
    ASSERT_EQ(picture.width, width);
    ASSERT_EQ(picture.height, height);
    PixelBuffer bgrx(width, height);
    ASSERT_TRUE(convertToBgrx(picture, bgrx));
    const auto* pixel = bgrx.row(height / 2) + 4 * (width / 2);
    EXPECT_NEAR(pixel[0], colour.b, 6);
    EXPECT_NEAR(pixel[1], colour.g, 6);
    EXPECT_NEAR(pixel[2], colour.r, 6);
}

TEST_F(H264DecoderTest, EachAccessUnitYieldsItsPictureAtOnceInItsColour)
{
    const std::vector<Colour> colours{{200, 40, 30}, {30, 200, 40}, {40, 30, 200}, {128, 128, 128}};
    const auto units = encode(colours);
    ASSERT_EQ(units.size(), colours.size());
    ASSERT_TRUE(decoder);
    for (std::size_t i = 0; i < units.size(); ++i) {
        ASSERT_EQ(decode(units[i]), 1) << "no frame of delay, picture " << i;
        expectColour(pictures.back(), colours[i]);
    }
    PixelBuffer otherSize(width + 2, height);
    EXPECT_FALSE(convertToBgrx(pictures.back(), otherSize));
    decoder->flush([&](const DecodedPicture&) { ADD_FAILURE() << "nothing held back"; });
}

TEST_F(H264DecoderTest, DamagedOrUnanchoredInputYieldsNoPictureAndTheNextKeyframeDecodes)
{
    const Colour grey{128, 128, 128}, blue{200, 40, 30};
    const auto units = encode({grey, grey, blue, blue}, {true, false, true, false});
    ASSERT_EQ(units.size(), 4u);
    ASSERT_TRUE(decoder);
    std::srand(3);
    Bytes garbage{0, 0, 0, 1, 0x65};
    garbage.resize(4000);
    for (auto byte = garbage.begin() + 5; byte != garbage.end(); ++byte) {
        *byte = static_cast<std::uint8_t>(std::rand());
    }
    const auto cut = [](const Bytes& unit, std::size_t size) { return std::span<const std::uint8_t>(unit.data(), size); };
    const auto ignore = [](const DecodedPicture&) {};

    EXPECT_FALSE(decoder->decode({}, ignore));
    const std::span<const std::uint8_t> garbageUnit(garbage);
    for (const auto bytes : {garbageUnit.subspan(5), garbageUnit, cut(units[0], 20)}) {
        EXPECT_EQ(decode(bytes), 0);
    }
    EXPECT_EQ(decode(units[1]), 0) << "a delta picture without its keyframe";
    decode(cut(units[0], units[0].size() - 20)); // cut inside its slices: must not crash
    decoder->flush(ignore);
    EXPECT_EQ(decode(units[1]), 0) << "after a flush, a delta picture waits for a keyframe";
    ASSERT_EQ(decode(units[2]), 1);
    expectColour(pictures.back(), blue);
    EXPECT_EQ(decode(units[3]), 1);
}

TEST_F(H264DecoderTest, PicturesUpToTheLargestSizeAHostSendsDecodeAndLargerOnesAreRefused)
{
    ASSERT_TRUE(decoder);
    EXPECT_EQ(decode(encode({{90, 90, 90}}, {}, 2560, 1440).at(0)), 1);
    EXPECT_EQ(pictures.back().width, 2560);
    EXPECT_EQ(decode(encode({{90, 90, 90}}, {}, 2560, 1456).at(0)), 0);
    EXPECT_EQ(decode(encode({{90, 90, 90}}, {}, 1280, 720).at(0)), 1) << "a new size after a refused one";
}

} // namespace
} // namespace tavoro::platform
