#include "host/screen_capturer.h"

#include "platform/linux/x11_capture_source.h"
#include "support/wait.h"
#include "support/x_client.h"
#include "support/xvfb.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>
#include <thread>

namespace tavoro::host {
namespace {

using platform::DisplayRect;
using namespace std::chrono_literals;

constexpr std::uint32_t red = 0xFF0000;
constexpr std::uint32_t green = 0x00FF00;
constexpr std::uint32_t blue = 0x0000FF;
constexpr std::uint32_t grey = 0x808080;

// A capturer started on a real X display, with what it reports collected from its threads.
struct Running {
    Running(platform::X11CaptureOptions options, int fps) : source(std::move(options)), capturer(source, fps)
    {
        capturer.onFrame = [this](const platform::PixelBufferRef& picture, int, int) {
            std::lock_guard lock(mutex);
            frames.push_back(picture);
        };
        capturer.onError = [this](const std::string& text) {
            std::lock_guard lock(mutex);
            errors.push_back(text);
        };
        capturer.start();
    }
    std::size_t frameCount() const
    {
        std::lock_guard lock(mutex);
        return frames.size();
    }
    bool waitForFrames(std::size_t n) const
    {
        return test::waitFor([&] { return frameCount() >= n; });
    }
    platform::PixelBufferRef frame(std::size_t i) const
    {
        std::lock_guard lock(mutex);
        return frames.at(i);
    }

    platform::X11CaptureSource source;
    mutable std::mutex mutex; // guards frames and errors
    std::vector<platform::PixelBufferRef> frames;
    std::vector<std::string> errors;
    ScreenCapturer capturer; // last: destroyed first, before the fields its callbacks write
};

// The colour of one pixel as 0xRRGGBB.
std::uint32_t rgbAt(const platform::PixelBuffer& picture, int x, int y)
{
    const auto* pixel = picture.row(y) + 4 * x;
    return static_cast<std::uint32_t>(pixel[2]) << 16 | static_cast<std::uint32_t>(pixel[1]) << 8 | pixel[0];
}

// Whether every channel of a scaled pixel is within 3 of the colour (the scaler rounds a little).
bool near(std::uint32_t actual, std::uint32_t expected)
{
    for (int shift = 0; shift < 24; shift += 8) {
        const int a = static_cast<int>((actual >> shift) & 0xFF);
        const int e = static_cast<int>((expected >> shift) & 0xFF);
        if (std::abs(a - e) > 3) {
            return false;
        }
    }
    return true;
}

class X11CaptureTest : public ::testing::TestWithParam<platform::GrabMethod> {};

TEST_P(X11CaptureTest, AKnownPictureIsCapturedWithTheRightPixels)
{
    test::Xvfb server(1280, 720);
    ASSERT_TRUE(server.running());
    test::XClient client(server.display());
    client.warpPointer(1279, 719);
    client.window({0, 0, 640, 720}, red);
    client.window({640, 0, 640, 720}, blue);
    client.fill(client.window({200, 100, 100, 100}, grey), {0, 0, 100, 50}, green);

    Running run({server.display(), GetParam()}, 30);
    ASSERT_TRUE(run.waitForFrames(1));

    const auto picture = run.frame(0);
    ASSERT_EQ(picture->width(), 1280);
    ASSERT_EQ(picture->height(), 720);
    EXPECT_EQ(rgbAt(*picture, 0, 0), red);
    EXPECT_EQ(rgbAt(*picture, 639, 400), red);
    EXPECT_EQ(rgbAt(*picture, 640, 400), blue);
    EXPECT_EQ(rgbAt(*picture, 250, 120), green);
    EXPECT_EQ(rgbAt(*picture, 250, 180), grey);
    EXPECT_TRUE(run.errors.empty());
}

INSTANTIATE_TEST_SUITE_P(GrabMethods, X11CaptureTest,
    ::testing::Values(platform::GrabMethod::sharedMemory, platform::GrabMethod::getImage));

TEST(X11Capture, AWideScreenIsScaledDownWithItsPicture)
{
    test::Xvfb server(3840, 1080);
    ASSERT_TRUE(server.running());
    test::XClient client(server.display());
    client.warpPointer(3839, 1079);
    client.window({0, 0, 1920, 1080}, red);
    client.window({1920, 0, 1920, 1080}, blue);

    Running run({server.display()}, 30);
    ASSERT_TRUE(run.waitForFrames(1));
    const auto picture = run.frame(0);
    EXPECT_EQ(picture->width(), 2560);
    EXPECT_EQ(picture->height(), 720);
    EXPECT_PRED2(near, rgbAt(*picture, 1270, 700), red);
    EXPECT_PRED2(near, rgbAt(*picture, 1290, 700), blue);
}

// A still screen staying silent is MediaCommands.AStillScreenEncodesOnlyItsFirstPicture's; a request
// bringing one picture is ChangeTracker's (unit/platform).
TEST(X11Capture, TwoMonitorsAreListedLeftToRightAndOnlyChangesOnTheCapturedOneBringAPicture)
{
    test::Xvfb server(3840, 1080);
    ASSERT_TRUE(server.running());
    ASSERT_TRUE(server.splitIntoTwoMonitors());
    test::XClient client(server.display());
    client.warpPointer(3000, 500);
    const auto left = client.window({0, 0, 1920, 1080}, red);
    const auto right = client.window({1920, 0, 1920, 1080}, blue);

    Running run({server.display()}, 60);
    const auto list = run.source.displays();
    ASSERT_TRUE(list) << list.error();
    ASSERT_EQ(list->size(), 2u);
    EXPECT_EQ((*list)[0].name, "left");
    EXPECT_EQ((*list)[1].bounds, (DisplayRect{1920, 0, 1920, 1080}));
    ASSERT_TRUE(run.waitForFrames(1));
    EXPECT_EQ(rgbAt(*run.frame(0), 1000, 1000), red);

    // Real time is the point here: where the damage is must keep it silent over many frame intervals.
    client.fill(right, {1000, 0, 500, 500}, green);
    client.warpPointer(3100, 600);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(run.frameCount(), 1u) << "changes on the other monitor";

    client.fill(left, {10, 10, 50, 50}, green);
    ASSERT_TRUE(run.waitForFrames(2)) << "drawing on the captured monitor";
    EXPECT_EQ(rgbAt(*run.frame(1), 20, 20), green);
    client.warpPointer(500, 500);
    ASSERT_TRUE(run.waitForFrames(3)) << "the pointer entering the monitor";
    run.capturer.refresh();
    ASSERT_TRUE(run.waitForFrames(4)) << "a picture on request";

    run.capturer.switchDisplay(-1);
    const auto before = run.frameCount();
    ASSERT_TRUE(run.waitForFrames(before + 1));
    const auto picture = run.frame(before);
    EXPECT_EQ(picture->width(), 1920);
    EXPECT_EQ(rgbAt(*picture, 0, 0), blue);
    EXPECT_EQ(rgbAt(*picture, 1919, 1079), blue);
}

TEST(X11Capture, TheCursorIsDrawnIntoThePicture)
{
    test::Xvfb server(640, 480);
    ASSERT_TRUE(server.running());
    test::XClient client(server.display());
    client.window({0, 0, 640, 480}, grey);
    client.warpPointer(320, 240);

    Running run({server.display()}, 60);
    ASSERT_TRUE(run.waitForFrames(1));
    const auto countChanged = [](const platform::PixelBuffer& picture) {
        int changed = 0;
        for (int y = 224; y < 256; ++y) {
            for (int x = 304; x < 336; ++x) {
                changed += rgbAt(picture, x, y) != grey;
            }
        }
        return changed;
    };
    EXPECT_GT(countChanged(*run.frame(0)), 10);

    client.warpPointer(10, 10);
    ASSERT_TRUE(run.waitForFrames(2));
    EXPECT_EQ(countChanged(*run.frame(run.frameCount() - 1)), 0);
}

TEST(X11Capture, LosingTheServerStopsTheStreamWithAnError)
{
    auto server = std::make_unique<test::Xvfb>(320, 240);
    ASSERT_TRUE(server->running());
    Running run({server->display()}, 60);
    ASSERT_TRUE(run.waitForFrames(1));
    server.reset();
    ASSERT_TRUE(test::waitFor([&] {
        std::lock_guard lock(run.mutex);
        return !run.errors.empty();
    }));
    std::lock_guard lock(run.mutex);
    EXPECT_EQ(run.errors[0].rfind("捕获中止: ", 0), 0u) << run.errors[0];
}

TEST(X11Capture, NoServerMeansNoDisplayList)
{
    Running run({":4093"}, 30);
    std::lock_guard lock(run.mutex);
    ASSERT_EQ(run.errors.size(), 1u);
    EXPECT_EQ(run.errors[0], "获取屏幕内容失败: 无法连接 X 显示 :4093");
}

} // namespace
} // namespace tavoro::host
