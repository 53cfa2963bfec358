#include "platform/ffmpeg/ffmpeg_image_codec.h"
#include "platform/ffmpeg/picture_to_bgrx.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace tavoro::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;

// An I420 picture with gradients in every plane; odd sizes give chroma planes rounded up.
DecodedPicture gradientPicture(int width, int height)
{
    const int chromaWidth = (width + 1) / 2, chromaHeight = (height + 1) / 2;
    const std::size_t lumaSize = static_cast<std::size_t>(width) * height;
    const std::size_t chromaSize = static_cast<std::size_t>(chromaWidth) * chromaHeight;
    auto bytes = std::make_shared<Bytes>(lumaSize + 2 * chromaSize);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            (*bytes)[static_cast<std::size_t>(y) * width + x] = static_cast<std::uint8_t>(16 + (x * 5 + y * 3) % 220);
        }
    }
    for (std::size_t i = 0; i < chromaSize; ++i) {
        (*bytes)[lumaSize + i] = static_cast<std::uint8_t>(64 + i % 128);
        (*bytes)[lumaSize + chromaSize + i] = static_cast<std::uint8_t>(192 - i % 128);
    }
    DecodedPicture picture;
    picture.width = width;
    picture.height = height;
    picture.planes = {PicturePlane{bytes->data(), width}, PicturePlane{bytes->data() + lumaSize, chromaWidth},
        PicturePlane{bytes->data() + lumaSize + chromaSize, chromaWidth}};
    picture.storage = bytes;
    return picture;
}

TEST(FfmpegImageCodecTest, APngOfADecodedPictureReadsBackAtItsSizeWithItsColours)
{
    FfmpegImageCodec codec;
    const auto picture = gradientPicture(33, 17);
    const auto png = codec.encodePng(picture);
    ASSERT_TRUE(png);
    const auto image = codec.decodeImage(*png);
    ASSERT_TRUE(image);
    ASSERT_EQ(image->width(), 33);
    ASSERT_EQ(image->height(), 17);
    PixelBuffer expected(33, 17);
    ASSERT_TRUE(convertToBgrx(picture, expected));
    int worst = 0;
    for (int y = 0; y < 17; ++y) {
        for (int i = 0; i < 33 * 4; ++i) {
            worst = std::max(worst, std::abs(image->row(y)[i] - expected.row(y)[i]));
        }
    }
    EXPECT_LE(worst, 2);
}

TEST(FfmpegImageCodecTest, JunkAndPicturesWithASideOverTheLimitAreRefused)
{
    FfmpegImageCodec codec;
    const auto pngOf = [&](int width, int height) { return codec.encodePng(gradientPicture(width, height)).value(); };
    const struct {
        const char* what;
        Bytes bytes;
        bool readable;
    } cases[] = {
        {"nothing", {}, false},
        {"no picture", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, false},
        {"PNG signature, then junk", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'},
            false},
        {"JPEG start, then junk", {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1}, false},
        {"GIF header only", {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0}, false},
        {"the widest picture", pngOf(ImageCodec::kMaxSide, 2), true},
        {"one column more", pngOf(ImageCodec::kMaxSide + 1, 2), false},
        {"one row more", pngOf(2, ImageCodec::kMaxSide + 1), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(codec.decodeImage(c.bytes) != nullptr, c.readable) << c.what;
    }
    EXPECT_FALSE(codec.encodePng(DecodedPicture{})) << "no planes";
}

} // namespace
} // namespace tavoro::platform
