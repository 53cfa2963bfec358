#include "ui/logic/remote_cursor.h"
#include "ui/logic/view_rect.h"

#include <gtest/gtest.h>

namespace tavoro::ui {
namespace {

using control::DisplayMode;

struct RectCase {
    const char* what;
    DisplayMode mode;
    int remoteW;
    int remoteH;
    SizeF view;
    double pixelRatio;
    RectF expected;
};

TEST(ViewRect, PlacesThePictureByDisplayMode)
{
    const RectCase cases[] = {
        {"aspect, wide picture in a square view", DisplayMode::aspect, 1920, 1080, {1000, 1000}, 1,
            {0, 218.75, 1000, 562.5}},
        {"aspect, tall picture in a wide view", DisplayMode::aspect, 1080, 1920, {1000, 500}, 2,
            {359.375, 0, 281.25, 500}},
        {"stretch", DisplayMode::stretch, 1920, 1080, {1000, 1000}, 1, {0, 0, 1000, 1000}},
        {"native at ratio 2", DisplayMode::native, 2560, 1440, {1600, 1000}, 2, {160, 140, 1280, 720}},
        {"native 1920 at ratio 2 is 960 wide", DisplayMode::native, 1920, 1080, {960, 540}, 2, {0, 0, 960, 540}},
        {"native larger than the view", DisplayMode::native, 1920, 1080, {1000, 700}, 1, {-460, -190, 1920, 1080}},
        {"native halves round away from zero", DisplayMode::native, 1921, 1080, {1000, 701}, 1,
            {-461, -190, 1921, 1080}},
        {"native without a ratio counts 1", DisplayMode::native, 800, 600, {1000, 700}, 0, {100, 50, 800, 600}},
        {"remote size unknown", DisplayMode::aspect, 0, 1080, {1000, 700}, 1, {0, 0, 1000, 700}},
        {"view without area", DisplayMode::native, 1920, 1080, {0, 700}, 1, {0, 0, 0, 700}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(videoRect(c.mode, c.remoteW, c.remoteH, c.view, c.pixelRatio), c.expected) << c.what;
    }
}

TEST(ViewRect, NormalisesOnlyPointsOnThePicture)
{
    const RectF aspect{0, 218.75, 1000, 562.5};
    const RectF native{-460, -190, 1920, 1080};
    const struct {
        RectF picture;
        PointF at;
        std::optional<PointF> expected;
    } cases[] = {
        {aspect, {500, 500}, PointF{0.5, 0.5}},
        {aspect, {500, 100}, std::nullopt}, // the black bar above
        {aspect, {1000, 781.25}, PointF{1, 1}},
        {aspect, {1000.5, 500}, std::nullopt},
        {{0, 0, 1000, 1000}, {0, 0}, PointF{0, 0}},
        {native, {0, 0}, PointF{460.0 / 1920, 190.0 / 1080}},
        {{0, 0, 0, 10}, {0, 0}, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(normalisedPosition(c.at, c.picture), c.expected) << c.at.x << "," << c.at.y;
    }
}

TEST(RemoteCursor, DrawnForViewersOnlyAndPlacedOnThePicture)
{
    EXPECT_TRUE(showsRemoteCursor(true, false));
    EXPECT_FALSE(showsRemoteCursor(true, true));
    EXPECT_FALSE(showsRemoteCursor(false, false));

    const RectF picture{0, 218.75, 1000, 562.5};
    const control::RemoteCursor cursor{0.25, 0.5, false};
    EXPECT_EQ(remoteCursorTip(cursor, true, picture), (PointF{250, 500}));
    EXPECT_FALSE(remoteCursorTip(cursor, false, picture));
    EXPECT_FALSE(remoteCursorTip(control::RemoteCursor{0.25, 0.5, true}, true, picture));
    EXPECT_FALSE(remoteCursorTip(std::nullopt, true, picture));
    EXPECT_FALSE(remoteCursorTip(cursor, true, RectF{0, 0, 1000, 0}));
}

} // namespace
} // namespace tavoro::ui
