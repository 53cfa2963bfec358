#include "platform/qt/video_surface.h"

#include <QImage>

#include <gtest/gtest.h>

#include <cstdint>
#include <thread>
#include <vector>

namespace tavoro::platform::qt {
namespace {

using control::DisplayMode;

enum class Shade { black, red, blue, other };

Shade shadeOf(QRgb pixel)
{
    const int r = qRed(pixel);
    const int g = qGreen(pixel);
    const int b = qBlue(pixel);
    if (r < 30 && g < 30 && b < 30) {
        return Shade::black;
    }
    if (r > 200 && g < 60 && b < 60) {
        return Shade::red;
    }
    if (b > 200 && r < 60 && g < 60) {
        return Shade::blue;
    }
    return Shade::other;
}

struct YuvColour {
    std::uint8_t y, u, v;
};
constexpr YuvColour red{81, 90, 240};
constexpr YuvColour blue{41, 240, 110};

// A video-range I420 picture whose left half is `left` and right half `right`.
DecodedPicture twoColourPicture(int width, int height, YuvColour left, YuvColour right)
{
    const int chromaWidth = (width + 1) / 2;
    const int chromaHeight = (height + 1) / 2;
    auto bytes = std::make_shared<std::vector<std::uint8_t>>(
        static_cast<std::size_t>(width * height + 2 * chromaWidth * chromaHeight));
    std::uint8_t* y = bytes->data();
    std::uint8_t* u = y + width * height;
    std::uint8_t* v = u + chromaWidth * chromaHeight;
    for (int row = 0; row < height; ++row) {
        for (int col = 0; col < width; ++col) {
            y[row * width + col] = col < width / 2 ? left.y : right.y;
        }
    }
    for (int row = 0; row < chromaHeight; ++row) {
        for (int col = 0; col < chromaWidth; ++col) {
            const auto& colour = col < chromaWidth / 2 ? left : right;
            u[row * chromaWidth + col] = colour.u;
            v[row * chromaWidth + col] = colour.v;
        }
    }
    return {width, height, false, {{{y, width}, {u, chromaWidth}, {v, chromaWidth}}}, bytes};
}

void presentFromAnotherThread(DisplaySink& sink, const DecodedPicture& picture)
{
    std::thread decoder([&] { sink.present(picture); });
    decoder.join();
}

struct Probe {
    int x;
    int y;
    Shade expected;
};

TEST(VideoSurface, DrawsThePictureInTheModesRectangle)
{
    struct Case {
        const char* what;
        DisplayMode mode;
        int pictureW;
        int pictureH;
        int remoteW; // the session's remote size; 0: not known, the picture's size stands in
        int remoteH;
        std::vector<Probe> probes;
    };
    // The view is 200 × 100; the picture is red on its left half, blue on its right half.
    const Case cases[] = {
        {"aspect: a square picture is centred with bars at the sides", DisplayMode::aspect, 100, 100, 0, 0,
            {{20, 50, Shade::black}, {60, 50, Shade::red}, {140, 50, Shade::blue}, {180, 50, Shade::black}}},
        {"aspect: a wide picture gets bars above and below", DisplayMode::aspect, 400, 100, 0, 0,
            {{100, 10, Shade::black}, {40, 50, Shade::red}, {160, 50, Shade::blue}, {100, 90, Shade::black}}},
        {"stretch fills the view", DisplayMode::stretch, 100, 100, 0, 0,
            {{2, 2, Shade::red}, {2, 97, Shade::red}, {197, 2, Shade::blue}, {197, 97, Shade::blue}}},
        {"native: one picture pixel per device pixel, centred", DisplayMode::native, 60, 40, 0, 0,
            {{65, 50, Shade::black}, {75, 35, Shade::red}, {125, 65, Shade::blue}, {135, 50, Shade::black},
                {100, 25, Shade::black}}},
        {"the session's remote size wins over the picture's: the input maps through the same rectangle",
            DisplayMode::aspect, 100, 100, 400, 100,
            {{100, 10, Shade::black}, {40, 50, Shade::red}, {160, 50, Shade::blue}, {100, 90, Shade::black}}},
    };
    for (const auto& c : cases) {
        VideoSurface surface;
        surface.resize(200, 100);
        surface.setDisplayMode(c.mode);
        surface.setRemoteSize(c.remoteW, c.remoteH);
        presentFromAnotherThread(*surface.sink(), twoColourPicture(c.pictureW, c.pictureH, red, blue));

        const QImage shown = surface.grab().toImage();
        ASSERT_EQ(shown.size(), QSize(200, 100)) << c.what;
        for (const auto& probe : c.probes) {
            EXPECT_EQ(shadeOf(shown.pixel(probe.x, probe.y)), probe.expected)
                << c.what << " at (" << probe.x << ", " << probe.y << ")";
        }
    }
}

TEST(VideoSurface, ShowsOnlyTheLatestPictureAndBlackAfterClear)
{
    VideoSurface surface;
    surface.resize(200, 100);
    surface.setDisplayMode(DisplayMode::stretch);
    auto sink = surface.sink();

    presentFromAnotherThread(*sink, twoColourPicture(100, 100, red, red));
    EXPECT_EQ(shadeOf(surface.grab().toImage().pixel(100, 50)), Shade::red);

    presentFromAnotherThread(*sink, twoColourPicture(100, 100, blue, blue));
    EXPECT_EQ(shadeOf(surface.grab().toImage().pixel(100, 50)), Shade::blue);

    sink->clear();
    EXPECT_EQ(shadeOf(surface.grab().toImage().pixel(100, 50)), Shade::black);
}

TEST(VideoSurface, SinkOutlivesTheSurface)
{
    std::shared_ptr<DisplaySink> sink;
    {
        VideoSurface surface;
        sink = surface.sink();
    }
    presentFromAnotherThread(*sink, twoColourPicture(16, 16, red, red));
    sink->flush();
    sink->clear();
}

} // namespace
} // namespace tavoro::platform::qt
