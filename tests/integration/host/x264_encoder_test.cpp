#include "host/access_unit.h"
#include "protocol/annexb.h"
#include "host/video_encoder.h"

#include "platform/ffmpeg/x264_encoder.h"

#include <gtest/gtest.h>

#include <random>

namespace tavoro::host {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int width = 640;
constexpr int height = 360;
constexpr int fps = 30;

// A picture that moves with n: a gradient with a bright bar, cheap to encode.
platform::PixelBuffer movingPicture(int n)
{
    platform::PixelBuffer picture(width, height);
    for (int y = 0; y < height; ++y) {
        auto* row = picture.row(y);
        for (int x = 0; x < width; ++x) {
            const bool bar = ((x + 4 * n) / 40) % 8 == 0;
            row[4 * x] = static_cast<std::uint8_t>(bar ? 250 : x / 3);
            row[4 * x + 1] = static_cast<std::uint8_t>(y / 2 + n);
            row[4 * x + 2] = static_cast<std::uint8_t>(bar ? 250 : 128);
        }
    }
    return picture;
}

// Noise that x264 cannot compress, so the rate control has to work.
platform::PixelBuffer noisePicture(std::mt19937& random)
{
    platform::PixelBuffer picture(width, height);
    auto* bytes = picture.data();
    for (std::size_t i = 0; i < static_cast<std::size_t>(width) * height * 4; i += 4) {
        const auto value = random();
        bytes[i] = static_cast<std::uint8_t>(value);
        bytes[i + 1] = static_cast<std::uint8_t>(value >> 8);
        bytes[i + 2] = static_cast<std::uint8_t>(value >> 16);
    }
    return picture;
}

bool hasUnit(const Bytes& accessUnit, int type)
{
    for (const auto unit : protocol::splitAnnexB(accessUnit)) {
        if (protocol::nalType(unit) == type) {
            return true;
        }
    }
    return false;
}

// That the stream decodes is H264DecoderTest's; that a recorded file probes as Main profile is
// MediaCommands.CaptureRecordsAFileThatPlaysAsMainProfile's.
class X264EncoderTest : public ::testing::Test {
protected:
    std::unique_ptr<VideoEncoder> open(int kbps = 8000)
    {
        auto encoder = VideoEncoder::create(factory, width, height, fps, kbps);
        if (encoder) {
            encoder->onEncoded = [this](Bytes bytes, bool isKey) {
                units.push_back(std::move(bytes));
                keys.push_back(isKey);
            };
        }
        return encoder;
    }

    platform::X264EncoderFactory factory;
    std::vector<Bytes> units;
    std::vector<bool> keys;
};

TEST_F(X264EncoderTest, TheFirstAccessUnitStartsWithSequenceAndPictureParameterSets)
{
    auto encoder = open();
    ASSERT_TRUE(encoder);
    encoder->encode(movingPicture(0));
    ASSERT_EQ(units.size(), 1u) << "zero latency: one access unit per picture, at once";
    ASSERT_TRUE(keys[0]);
    const auto parts = protocol::splitAnnexB(units[0]);
    ASSERT_GE(parts.size(), 3u);
    EXPECT_EQ(Bytes(units[0].begin(), units[0].begin() + 5), (Bytes{0, 0, 0, 1, 0x67}));
    EXPECT_EQ(Bytes(parts[0].data() + parts[0].size(), parts[1].data() + 1), (Bytes{0, 0, 0, 1, 0x68}));
    EXPECT_EQ(parts[0][1], 77) << "profile_idc 77: Main";
    EXPECT_TRUE(hasUnit(units[0], 5));
}

TEST_F(X264EncoderTest, ForceKeyframeNextMakesExactlyTheNextPictureAKeyframe)
{
    auto encoder = open();
    for (int i = 0; i < 10; ++i) {
        encoder->encode(movingPicture(i));
    }
    encoder->forceKeyframeNext = true;
    encoder->encode(movingPicture(10));
    EXPECT_FALSE(encoder->forceKeyframeNext);
    encoder->encode(movingPicture(11));
    ASSERT_EQ(units.size(), 12u);
    EXPECT_EQ(std::count(keys.begin(), keys.end(), true), 2);
    EXPECT_TRUE(keys[10]);
    EXPECT_TRUE(hasUnit(units[10], 5) && hasUnit(units[10], 7) && hasUnit(units[10], 8)) << "an IDR with its sets";
    EXPECT_FALSE(keys[11]);
    EXPECT_FALSE(hasUnit(units[11], 7));
}

TEST_F(X264EncoderTest, AKeyframeComesAtLeastEveryTwoSecondsOfFrames)
{
    auto encoder = open();
    for (int i = 0; i < 200; ++i) {
        encoder->encode(movingPicture(i));
    }
    ASSERT_EQ(units.size(), 200u);
    int last = 0;
    for (int i = 1; i < 200; ++i) {
        EXPECT_EQ(keys[static_cast<std::size_t>(i)], hasUnit(units[static_cast<std::size_t>(i)], 5)) << i;
        if (keys[static_cast<std::size_t>(i)]) {
            EXPECT_LE(i - last, 2 * fps);
            last = i;
        }
    }
    EXPECT_LE(200 - last, 2 * fps);
}

TEST_F(X264EncoderTest, ABitrateDropOnTheOpenEncoderLowersTheOutputWithinASecond)
{
    auto encoder = open(8000);
    std::mt19937 random(7);
    const auto bytesOver = [&](int pictures) {
        std::size_t total = 0;
        for (int i = 0; i < pictures; ++i) {
            const auto before = units.size();
            encoder->encode(noisePicture(random));
            for (auto j = before; j < units.size(); ++j) {
                total += units[j].size();
            }
        }
        return total;
    };
    bytesOver(fps);
    const auto highRate = bytesOver(fps) * 8 / 1000; // kbit in one second
    encoder->setBitrateKbps(2000);
    encoder->forceKeyframeNext = true;
    const auto firstSecond = bytesOver(fps) * 8 / 1000;
    const auto secondSecond = bytesOver(fps) * 8 / 1000;
    EXPECT_GT(highRate, 6000u);
    EXPECT_LT(firstSecond, highRate / 2) << "high " << highRate << " kbit/s, then " << firstSecond;
    EXPECT_LT(secondSecond, 2400u);
}

TEST_F(X264EncoderTest, SettingsTheEncoderCannotTakeYieldNoEncoder)
{
    EXPECT_FALSE(VideoEncoder::create(factory, 641, 360, fps, 8000)) << "4:2:0 needs even sizes";
    EXPECT_FALSE(VideoEncoder::create(factory, 640, 360, fps, 0));
}

} // namespace
} // namespace tavoro::host
