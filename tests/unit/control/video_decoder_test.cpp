#include "control/video_decoder.h"

#include "core/log.h"
#include "platform/fake/manual_serial_queue.h"
#include "platform/ffmpeg/ffmpeg_h264_decoder.h"
#include "support/encoded_stream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavoro::control {
namespace {

using test::AccessUnit;
using test::encodeMovingStream;

// Records what the display is told, as "flush", "clear" and "WxH" for each picture shown.
class RecordingSink final : public platform::DisplaySink {
public:
    void present(const platform::DecodedPicture& picture) override
    {
        events.push_back(std::to_string(picture.width) + "x" + std::to_string(picture.height));
    }
    void flush() override { events.emplace_back("flush"); }
    void clear() override { events.emplace_back("clear"); }

    std::vector<std::string> events;
};

class CountingFactory final : public platform::H264DecoderFactory {
public:
    std::unique_ptr<platform::H264Decoder> create() override
    {
        ++created;
        return real.create();
    }

    platform::FfmpegH264DecoderFactory real;
    int created = 0;
};

class VideoDecoderTest : public ::testing::Test {
protected:
    VideoDecoderTest() { decoder->attach(sink); }

    void decode(const AccessUnit& unit) { decoder->decode(unit, 320, 180); }

    // The stream: a keyframe, then delta pictures, 320 × 180.
    static const std::vector<AccessUnit>& stream()
    {
        static const auto units = encodeMovingStream(320, 180, 3);
        return units;
    }

    CountingFactory factory;
    std::shared_ptr<platform::fake::ManualSerialQueue> queue = std::make_shared<platform::fake::ManualSerialQueue>();
    std::shared_ptr<VideoDecoder> decoder = VideoDecoder::create(factory, queue);
    std::shared_ptr<RecordingSink> sink = std::make_shared<RecordingSink>();
};

using Events = std::vector<std::string>;

TEST_F(VideoDecoderTest, DecodingStartsAtTheFirstKeyframeAndARepeatedKeyframeKeepsTheDecoder)
{
    const auto& units = stream();
    ASSERT_EQ(units.size(), 3u);
    decoder->decode(units[0], 0, 180);
    decoder->decode({}, 320, 180);
    EXPECT_EQ(queue->drain(), 1) << "only the attach is queued";

    decode(units[1]);
    queue->drain();
    EXPECT_EQ(factory.created, 0) << "a delta before any parameter set";
    EXPECT_FALSE(decoder->snapshot());

    decode(units[0]);
    queue->drain();
    EXPECT_EQ(sink->events, (Events{"320x180"}));
    ASSERT_TRUE(decoder->snapshot());
    EXPECT_EQ(decoder->snapshot()->width, 320);

    decode(units[0]);
    decode(units[1]);
    queue->drain();
    EXPECT_EQ(factory.created, 1);
    EXPECT_EQ(sink->events, (Events{"320x180", "320x180", "320x180"}));
    EXPECT_EQ(decoder->decodedPictures(), 3u);
}

TEST_F(VideoDecoderTest, ANewSizeReopensTheDecoderAndFlushesTheDisplayBeforeItsFirstPicture)
{
    decode(stream()[0]);
    decode(stream()[1]);
    decode(encodeMovingStream(640, 360, 1).at(0));
    queue->drain();
    EXPECT_EQ(factory.created, 2);
    EXPECT_EQ(sink->events, (Events{"320x180", "320x180", "flush", "640x360"}));
    EXPECT_EQ(decoder->snapshot()->width, 640);
}

TEST_F(VideoDecoderTest, ReleaseForgetsThePictureAtOnceAndTheNextKeyframeStartsAgain)
{
    decode(stream()[0]);
    queue->drain();
    decoder->release();
    EXPECT_FALSE(decoder->snapshot());
    decode(stream()[1]);
    queue->drain();
    EXPECT_FALSE(decoder->snapshot()) << "no decoder after release";
    EXPECT_EQ(sink->events, (Events{"320x180", "clear"}));

    decode(stream()[0]);
    queue->drain();
    EXPECT_EQ(factory.created, 2);
    EXPECT_EQ(sink->events, (Events{"320x180", "clear", "320x180"})) << "a first decoder: no flush";
    EXPECT_TRUE(decoder->snapshot());
}

TEST_F(VideoDecoderTest, ASinkAttachedLaterGetsTheLatestPictureAtOnce)
{
    decoder->attach(nullptr);
    decode(stream()[0]);
    decode(stream()[1]);
    queue->drain();
    EXPECT_TRUE(sink->events.empty());
    const auto later = std::make_shared<RecordingSink>();
    decoder->attach(later);
    queue->drain();
    EXPECT_EQ(later->events, (Events{"320x180"}));
}

TEST_F(VideoDecoderTest, ABacklogOverTheLimitSkipsToTheNextKeyframe)
{
    constexpr int keyframeAt = VideoDecoder::kMaxBacklog + 5;
    const auto units = encodeMovingStream(160, 96, keyframeAt + 2, {keyframeAt});
    ASSERT_EQ(units.size(), static_cast<std::size_t>(keyframeAt + 2));
    const struct {
        int queued;
        std::uint64_t pictures;
        std::size_t logLines;
    } cases[] = {
        {VideoDecoder::kMaxBacklog, 1 + VideoDecoder::kMaxBacklog, 0},
        {keyframeAt + 1, 1 + 2, 1},
    };
    for (const auto& c : cases) {
        log::Capture log;
        auto fresh = VideoDecoder::create(factory, queue);
        fresh->decode(units[0], 160, 96);
        queue->drain();
        for (int i = 1; i <= c.queued; ++i) {
            fresh->decode(units[static_cast<std::size_t>(i)], 160, 96);
        }
        queue->drain();
        EXPECT_EQ(fresh->decodedPictures(), c.pictures) << c.queued << " queued";
        EXPECT_EQ(log.count("Tavoro: 解码积压 " + std::to_string(c.queued) + " 帧，跳到下一个关键帧"), c.logLines);
    }
}

} // namespace
} // namespace tavoro::control
