#include "host/access_unit.h"
#include "protocol/annexb.h"
#include "host/video_encoder.h"

#include "platform/fake/scripted_h264_encoder.h"

#include <gtest/gtest.h>

namespace tavoro::host {
namespace {

using Bytes = std::vector<std::uint8_t>;
using platform::fake::ScriptedH264EncoderFactory;

Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const auto& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

const Bytes start4{0, 0, 0, 1};
const Bytes start3{0, 0, 1};
const Bytes sps{0x67, 0x4D, 0x00, 0x28, 0xAC};
const Bytes pps{0x68, 0xEE, 0x3C, 0x80};
const Bytes sei{0x06, 0x05, 0x11, 0x22};
const Bytes idr{0x65, 0x88, 0x84, 0x00, 0x03, 0x21};
const Bytes idr2{0x65, 0x00, 0x77};
const Bytes slice{0x41, 0x9A, 0x12};

TEST(AccessUnitWriter, NormalisesStartCodesAndPutsParameterSetsFirst)
{
    AccessUnitWriter writer;
    // As x264 writes a first keyframe: SEI between the parameter sets, short start codes inside.
    const auto encoded = concat({start4, sps, start3, sei, start4, pps, start3, idr, start3, idr2});
    EXPECT_EQ(writer.write(encoded, true),
        concat({start4, sps, start4, pps, start4, sei, start4, idr, start4, idr2}));

    EXPECT_EQ(writer.write(concat({start3, slice}), false), concat({start4, slice}));
}

TEST(AccessUnitWriter, AKeyframeWithoutParameterSetsGetsTheLastOnes)
{
    AccessUnitWriter writer;
    EXPECT_EQ(writer.write(concat({start3, idr}), true), concat({start4, idr})) << "none seen yet";
    writer.write(concat({start4, sps, start4, pps, start4, idr}), true);
    EXPECT_EQ(writer.write(concat({start4, idr2}), true), concat({start4, sps, start4, pps, start4, idr2}));
}

TEST(AccessUnitWriter, MalformedOutputYieldsOnlyWhatIsThere)
{
    AccessUnitWriter writer;
    EXPECT_TRUE(writer.write({}, false).empty());
    EXPECT_TRUE(writer.write(Bytes{0, 0, 0, 0, 0}, false).empty());
    EXPECT_TRUE(writer.write(Bytes{0x41, 0x9A}, false).empty()) << "no start code";
    EXPECT_TRUE(writer.write(concat({start4, start3, start4}), false).empty());
    // Garbage before the first start code and zero padding after the last unit are dropped.
    EXPECT_EQ(writer.write(concat({Bytes{0x12, 0x34}, start3, slice, Bytes{0, 0, 0}}), false),
        concat({start4, slice}));
}

TEST(AccessUnitWriter, SplitKeepsEmulationPreventedBytes)
{
    const Bytes unit{0x41, 0x00, 0x00, 0x03, 0x01, 0x7F};
    const auto stream = concat({start4, unit});
    const auto units = protocol::splitAnnexB(stream);
    ASSERT_EQ(units.size(), 1u);
    EXPECT_EQ(Bytes(units[0].begin(), units[0].end()), unit);
}

class VideoEncoderTest : public ::testing::Test {
protected:
    std::unique_ptr<VideoEncoder> make()
    {
        auto encoder = VideoEncoder::create(factory, 64, 48, 30, 8000);
        if (encoder) {
            encoder->onEncoded = [this](Bytes bytes, bool isKey) { outputs.emplace_back(std::move(bytes), isKey); };
        }
        return encoder;
    }

    ScriptedH264EncoderFactory factory;
    std::vector<std::pair<Bytes, bool>> outputs;
    platform::PixelBuffer picture{64, 48};
};

TEST_F(VideoEncoderTest, ConstructionFailureYieldsNoEncoder)
{
    factory.fail = true;
    EXPECT_FALSE(make());
    factory.fail = false;
    EXPECT_FALSE(VideoEncoder::create(factory, 0, 48, 30, 8000));
    EXPECT_FALSE(VideoEncoder::create(factory, 64, 48, 0, 8000));
    EXPECT_TRUE(make());
    ASSERT_FALSE(factory.requested.empty());
    EXPECT_EQ(factory.requested.back().fps, 30);
    EXPECT_EQ(factory.requested.back().bitrateKbps, 8000);
}

TEST_F(VideoEncoderTest, PicturesOfAnotherSizeAreDropped)
{
    auto encoder = make();
    encoder->forceKeyframeNext = true;
    encoder->encode(platform::PixelBuffer(32, 48));
    EXPECT_TRUE(factory.log->forcedKeyframes.empty());
    EXPECT_TRUE(encoder->forceKeyframeNext) << "the request waits for a picture that is encoded";
}

TEST_F(VideoEncoderTest, BitrateChangesReachTheEncoderBeforeTheNextPicture)
{
    auto encoder = make();
    encoder->setBitrateKbps(5000);
    encoder->setBitrateKbps(3000);
    encoder->setBitrateKbps(0);
    EXPECT_TRUE(factory.log->bitrates.empty());
    encoder->encode(picture);
    encoder->encode(picture);
    EXPECT_EQ(factory.log->bitrates, std::vector<int>{3000});
}

TEST_F(VideoEncoderTest, OutputIsNormalisedAndEmptyOutputIsNotEmitted)
{
    factory.script = {{concat({start4, sps, start4, pps, start3, idr}), true}, {Bytes{0, 0, 0}, false},
        {concat({start3, slice}), false}};
    auto encoder = make();
    for (int i = 0; i < 4; ++i) {
        encoder->encode(picture);
    }
    ASSERT_EQ(outputs.size(), 2u);
    EXPECT_EQ(outputs[0], std::make_pair(concat({start4, sps, start4, pps, start4, idr}), true));
    EXPECT_EQ(outputs[1], std::make_pair(concat({start4, slice}), false));
}

TEST_F(VideoEncoderTest, FinishFlushesOnceAndDropsLaterPictures)
{
    auto encoder = make();
    encoder->finish();
    encoder->finish();
    encoder->encode(picture);
    EXPECT_EQ(factory.log->flushes, 1);
    EXPECT_TRUE(factory.log->destroyed);
    EXPECT_TRUE(factory.log->forcedKeyframes.empty());
}

} // namespace
} // namespace tavoro::host
