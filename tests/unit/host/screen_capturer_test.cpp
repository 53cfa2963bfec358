#include "host/screen_capturer.h"

#include "core/log.h"
#include "platform/fake/fake_capture_source.h"

#include <gtest/gtest.h>

namespace tavoro::host {
namespace {

using platform::CaptureSample;
using platform::DisplayRect;
using platform::FrameStatus;
using platform::fake::FakeCaptureSource;
using platform::fake::sideBySide;

struct Reported {
    std::vector<std::string> errors;
    std::vector<std::pair<int, int>> displays;
    std::vector<DisplayRect> bounds;
    std::vector<std::tuple<const platform::PixelBuffer*, int, int>> frames;
};

class ScreenCapturerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        source.displayList = sideBySide(2, 1920, 1080);
        capturer.onError = [this](const std::string& text) { reported.errors.push_back(text); };
        capturer.onDisplays = [this](int count, int index) { reported.displays.emplace_back(count, index); };
        capturer.onDisplayBounds = [this](const DisplayRect& rect) { reported.bounds.push_back(rect); };
        capturer.onFrame = [this](const platform::PixelBufferRef& picture, int w, int h) {
            reported.frames.emplace_back(picture.get(), w, h);
        };
    }

    FakeCaptureSource source;
    ScreenCapturer capturer{source, 30};
    Reported reported;
};

TEST_F(ScreenCapturerTest, StartCapturesTheFirstDisplayAtItsOutputSize)
{
    source.displayList = {{"wide", {0, 0, 3840, 2160}}, {"small", {3840, 0, 1366, 769}}};
    capturer.start();
    ASSERT_EQ(source.streams.size(), 1u);
    const auto& stream = source.last();
    EXPECT_TRUE(stream.started);
    EXPECT_EQ(stream.display.name, "wide");
    EXPECT_EQ(stream.config.width, 2560);
    EXPECT_EQ(stream.config.height, 1440);
    EXPECT_EQ(stream.config.fps, 30);
    EXPECT_EQ(reported.displays, (std::vector<std::pair<int, int>>{{2, 0}}));
    EXPECT_EQ(reported.bounds, (std::vector<DisplayRect>{{0, 0, 3840, 2160}}));

    auto first = source.streams.back();
    capturer.switchDisplay(1);
    EXPECT_TRUE(first->destroyed);
    EXPECT_EQ(source.last().config.width, 1366);
    EXPECT_EQ(source.last().config.height, 768);
    EXPECT_EQ(reported.bounds.back(), (DisplayRect{3840, 0, 1366, 769}));
    auto picture = std::make_shared<platform::PixelBuffer>(2, 2);
    source.last().deliver({FrameStatus::complete, picture});
    EXPECT_EQ(reported.frames.back(), std::make_tuple(picture.get(), 1366, 768)) << "frames carry their stream's size";
    EXPECT_TRUE(reported.errors.empty());
}

TEST_F(ScreenCapturerTest, EnumerationFailuresAreReportedOnce)
{
    source.listError = "connection refused";
    capturer.start();
    source.listError.reset();
    source.displayList.clear();
    capturer.start();
    EXPECT_EQ(reported.errors, (std::vector<std::string>{"获取屏幕内容失败: connection refused", "没有可用显示器"}));
    EXPECT_TRUE(source.streams.empty());
    EXPECT_TRUE(reported.displays.empty());
}

TEST_F(ScreenCapturerTest, SwitchDisplayWrapsAnyIntegerOntoTheDisplayList)
{
    capturer.start();
    const std::pair<std::int64_t, int> wraps[] = {{2, 0}, {-1, 1}, {5, 1}, {INT64_MIN, 0}, {INT64_MAX, 1}};
    for (const auto& [to, expected] : wraps) {
        capturer.switchDisplay(to);
        EXPECT_EQ(capturer.index(), expected) << to;
        EXPECT_EQ(source.last().display.name, "display-" + std::to_string(expected));
        EXPECT_EQ(reported.displays.back(), std::make_pair(2, expected));
    }
    EXPECT_EQ(source.liveStreams(), 1) << "every switch stops the previous stream";

    source.displayList = sideBySide(1, 1920, 1080);
    capturer.stop();
    capturer.start();
    for (std::int64_t to : {1, -1, 7}) {
        capturer.switchDisplay(to);
        EXPECT_EQ(capturer.index(), 0);
    }
}

TEST_F(ScreenCapturerTest, SwitchAndRefreshNeedARunningStream)
{
    capturer.switchDisplay(1);
    capturer.refresh();
    EXPECT_TRUE(source.streams.empty());
    EXPECT_TRUE(reported.displays.empty());

    capturer.start();
    capturer.refresh();
    capturer.refresh();
    EXPECT_EQ(source.last().frameRequests, 2);
    capturer.stop();
    capturer.switchDisplay(1);
    EXPECT_EQ(source.streams.size(), 1u);
}

TEST_F(ScreenCapturerTest, ARememberedIndexIsKeptInRangeOnStart)
{
    source.displayList = sideBySide(4, 800, 600);
    capturer.start();
    capturer.switchDisplay(3);
    capturer.stop();
    source.displayList = sideBySide(2, 800, 600);
    capturer.start();
    EXPECT_EQ(reported.displays.back(), std::make_pair(2, 1));
    EXPECT_EQ(source.last().display.name, "display-1");
}

TEST_F(ScreenCapturerTest, OnlyCompleteSamplesWithAPictureReachOnFrame)
{
    capturer.start();
    auto picture = std::make_shared<platform::PixelBuffer>(1920, 1080);
    const auto& stream = source.last();
    for (auto status : {FrameStatus::idle, FrameStatus::blank, FrameStatus::suspended, FrameStatus::started,
             FrameStatus::stopped}) {
        stream.deliver({status, picture});
    }
    stream.deliver({FrameStatus::complete, nullptr});
    EXPECT_TRUE(reported.frames.empty());

    stream.deliver({FrameStatus::complete, picture});
    ASSERT_EQ(reported.frames.size(), 1u);
    EXPECT_EQ(reported.frames[0], std::make_tuple(picture.get(), 1920, 1080));
}

TEST_F(ScreenCapturerTest, SetFpsChangesTheRunningStreamOnlyForANewPositiveRate)
{
    capturer.setFps(22);
    capturer.start();
    EXPECT_EQ(source.last().config.fps, 22) << "a rate set before start applies at the stream's set-up";

    for (int ignored : {0, -5, 22}) {
        capturer.setFps(ignored);
    }
    EXPECT_TRUE(source.last().fpsChanges.empty());
    EXPECT_EQ(capturer.fps(), 22);

    capturer.setFps(30);
    EXPECT_EQ(source.last().fpsChanges, std::vector<int>{30});
    EXPECT_EQ(source.streams.size(), 1u) << "the stream is not restarted";
    EXPECT_EQ(capturer.outWidth(), 1920);

    log::Capture logs;
    source.fpsError = "busy";
    source.streams.back()->fpsChanges.clear();
    capturer.switchDisplay(1);
    capturer.setFps(15);
    EXPECT_EQ(source.last().config.fps, 30);
    EXPECT_EQ(source.last().fpsChanges, std::vector<int>{15});
    EXPECT_TRUE(logs.contains("Tavoro capture: 帧率更新失败 busy"));
    EXPECT_TRUE(reported.errors.empty()) << "a rate update failure is only logged";
}

TEST_F(ScreenCapturerTest, StopIsIdempotentAndForgetsTheDisplays)
{
    log::Capture logs;
    capturer.stop();
    EXPECT_EQ(logs.count("Tavoro capture: 已停止抓屏，流已释放"), 0u);

    capturer.start();
    capturer.stop();
    capturer.stop();
    EXPECT_EQ(logs.count("Tavoro capture: 已停止抓屏，流已释放"), 1u);
    EXPECT_TRUE(source.last().destroyed);
    EXPECT_EQ(capturer.displayCount(), 0);
}

TEST_F(ScreenCapturerTest, SetUpAndStartFailuresUseTheirTexts)
{
    source.openError = "no shm";
    capturer.start();
    ASSERT_EQ(reported.errors.size(), 1u);
    EXPECT_EQ(reported.errors[0], "添加输出失败: no shm");
    EXPECT_EQ(capturer.displayCount(), 2) << "a failed set-up keeps the displays, so a switch retries";

    source.openError.reset();
    source.startError = "thread";
    capturer.switchDisplay(1);
    ASSERT_EQ(reported.errors.size(), 2u);
    EXPECT_EQ(reported.errors[1].rfind("启动捕获失败：", 0), 0u);
    EXPECT_TRUE(reported.errors[1].ends_with("）。详情：thread"));
}

TEST_F(ScreenCapturerTest, AnEngineStopIsReportedAndNotRetried)
{
    capturer.start();
    source.last().stopWithError("X connection lost");
    EXPECT_EQ(reported.errors, std::vector<std::string>{"捕获中止: X connection lost"});
    EXPECT_EQ(source.streams.size(), 1u);
}

} // namespace
} // namespace tavoro::host
