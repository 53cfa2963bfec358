#include "control/audio_out.h"
#include "platform/fake/recording_audio_sink.h"

#include <gtest/gtest.h>

namespace tavoro::control {
namespace {

using Events = std::vector<std::string>;

std::vector<std::uint8_t> bytesOf(std::size_t count) { return std::vector<std::uint8_t>(count, 0); }

TEST(Pcm16ToPlanes, WholeFramesOnly)
{
    struct Case {
        std::size_t bytes;
        int channels;
        std::size_t planes;
        std::size_t frames;
    };
    const Case cases[] = {
        {1922, 2, 2, 480}, // the last two bytes are half a frame
        {3, 1, 1, 1},
        {1, 1, 0, 0},
        {3, 2, 0, 0},
        {4, 0, 0, 0},
        {4, -1, 0, 0},
    };
    for (const auto& c : cases) {
        const auto planes = pcm16ToPlanes(bytesOf(c.bytes), c.channels);
        ASSERT_EQ(planes.size(), c.planes) << c.bytes << " bytes, " << c.channels << " channels";
        for (const auto& plane : planes) {
            EXPECT_EQ(plane.size(), c.frames) << c.bytes << " bytes, " << c.channels << " channels";
        }
    }
}

TEST(Pcm16ToPlanes, DeinterleavesLittleEndianSamplesScaledBy2PowMinus15)
{
    // L0 = -32768, R0 = 32767, L1 = 1, R1 = -2
    const std::vector<std::uint8_t> bytes = {0x00, 0x80, 0xFF, 0x7F, 0x01, 0x00, 0xFE, 0xFF};
    const auto planes = pcm16ToPlanes(bytes, 2);
    ASSERT_EQ(planes.size(), 2u);
    EXPECT_EQ(planes[0], (std::vector<float>{-1.0f, 1.0f / 32768}));
    EXPECT_EQ(planes[1], (std::vector<float>{32767.0f / 32768, -2.0f / 32768}));
}

struct AudioOutTest : ::testing::Test {
    AudioOutTest()
    {
        auto owned = std::make_unique<platform::fake::RecordingAudioSink>();
        sink = owned.get();
        out = std::make_unique<AudioOut>(std::move(owned));
    }
    void play(std::size_t bytes, int rate, int channels) { out->playPcm16(bytesOf(bytes), rate, channels); }

    platform::fake::RecordingAudioSink* sink = nullptr;
    std::unique_ptr<AudioOut> out;
};

TEST_F(AudioOutTest, RestartsOnlyWhenTheFormatChanges)
{
    play(1922, 48000, 2);
    play(1920, 48000, 2);
    play(640, 16000, 1);
    play(640, 16000, 1);
    play(1, 16000, 1); // no whole frame: nothing queued, the format stays
    EXPECT_EQ(sink->events,
        (Events{"start 48000 2", "play 480", "play 480", "stop", "start 16000 1", "play 320", "play 320"}));
    EXPECT_TRUE(out->started());
    EXPECT_EQ(out->rate(), 16000);
    EXPECT_EQ(out->channels(), 1);
}

TEST_F(AudioOutTest, BadChunksNeverReachTheSink)
{
    play(100, 0, 2);
    play(100, 48000, 0);
    play(100, -48000, 2);
    play(0, 48000, 2);
    EXPECT_TRUE(sink->events.empty());
    EXPECT_FALSE(out->started());
}

TEST_F(AudioOutTest, AFailedStartDropsTheChunkAndTheNextChunkTriesAgain)
{
    sink->startFailures = 1;
    play(8, 48000, 2);
    EXPECT_FALSE(out->started());
    play(8, 48000, 2);
    EXPECT_EQ(sink->events, (Events{"start 48000 2", "start 48000 2", "play 2"}));
    EXPECT_TRUE(out->started());
}

TEST_F(AudioOutTest, ReleaseStopsOnceAndTheNextChunkStartsAgain)
{
    out->release(); // nothing started: nothing to stop
    play(4, 8000, 1);
    out->release();
    out->release();
    EXPECT_EQ(out->rate(), 0);
    EXPECT_EQ(out->channels(), 0);
    play(4, 8000, 1);
    EXPECT_EQ(sink->events, (Events{"start 8000 1", "play 2", "stop", "start 8000 1", "play 2"}));
}

} // namespace
} // namespace tavoro::control
