#include "platform/qt/qt_audio_sink.h"
#include "platform/qt/qt_pasteboard.h"
#include "platform/qt/sample_ring.h"
#include "qt/run_events.h"

#include <QClipboard>
#include <QGuiApplication>

#include <gtest/gtest.h>

#include <thread>

namespace tavoro::platform::qt {
namespace {

using test::runEventsUntil;

TEST(QtPasteboard, TextSetFromAWorkerReachesTheClipboard)
{
    QtPasteboard pasteboard;
    std::thread worker([&] { pasteboard.setText("远端 text"); });
    worker.join();

    EXPECT_EQ(pasteboard.text(), "远端 text");
    EXPECT_TRUE(runEventsUntil([] { return QGuiApplication::clipboard()->text() == QString("远端 text"); }));
}

TEST(QtPasteboard, FollowsChangesMadeByOthers)
{
    QtPasteboard pasteboard;
    QGuiApplication::clipboard()->setText("copied elsewhere");
    EXPECT_TRUE(runEventsUntil([&] { return pasteboard.text() == "copied elsewhere"; }));
}

std::vector<std::vector<float>> stereo(std::vector<float> left, std::vector<float> right)
{
    return {std::move(left), std::move(right)};
}

TEST(SampleRing, KeepsTheNewestWholeFramesInterleaved)
{
    struct Case {
        const char* what;
        std::vector<std::vector<std::vector<float>>> chunks;
        std::size_t readSamples;
        std::vector<float> expected;
    };
    const Case cases[] = {
        {"two chunks back to back", {stereo({1, 2}, {-1, -2}), stereo({3}, {-3})}, 16, {1, -1, 2, -2, 3, -3}},
        {"a full ring drops the oldest frames", {stereo({1, 2, 3}, {-1, -2, -3}), stereo({4, 5}, {-4, -5})}, 16,
            {2, -2, 3, -3, 4, -4, 5, -5}},
        {"a chunk larger than the ring keeps its end", {stereo({1, 2, 3, 4, 5, 6}, {0, 0, 0, 0, 0, 0})}, 16,
            {3, 0, 4, 0, 5, 0, 6, 0}},
        {"planes of different lengths are dropped", {stereo({1, 2}, {1})}, 16, {}},
        {"a wrong channel count is dropped", {{{1, 2}}}, 16, {}},
        {"only whole frames are read", {stereo({1, 2}, {-1, -2})}, 3, {1, -1}},
    };
    for (const auto& c : cases) {
        SampleRing ring;
        ring.reset(2, 4);
        for (const auto& chunk : c.chunks) {
            ring.write(chunk);
        }
        std::vector<float> out(c.readSamples);
        out.resize(ring.read(out) * 2);
        EXPECT_EQ(out, c.expected) << c.what;
    }
}

TEST(QtAudioSink, WithoutADeviceAcceptsEveryFormatAndDropsTheChunks)
{
    QObject context;
    auto gate = std::make_shared<GuiGate>(context);
    QtAudioSink sink(gate, QAudioDevice());
    EXPECT_TRUE(sink.start(48000, 2));
    sink.play(stereo({0.5f}, {-0.5f}));
    EXPECT_TRUE(sink.start(16000, 1));
    EXPECT_FALSE(sink.start(0, 1));
    sink.stop();
    gate->close();
}

} // namespace
} // namespace tavoro::platform::qt
