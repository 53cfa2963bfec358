#include "ui/logic/main_window_texts.h"
#include "ui/logic/session_window_size.h"
#include "ui/logic/session_window_texts.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace tavoro::ui {
namespace {

TEST(SessionWindowSize, FirstSizeFollowsTheRemoteAspectWithinTheScreen)
{
    constexpr int most = std::numeric_limits<int>::max();
    const Size screen{1920, 1040};
    const struct {
        int remoteW;
        int remoteH;
        Size available;
        std::optional<Size> expected;
    } cases[] = {
        {1920, 1080, screen, Size{1280, 760}},
        {2560, 1600, screen, Size{1280, 840}},
        {1366, 768, screen, Size{1280, 760}}, // 719.6 + 40 rounds up
        {100000, 100000, screen, Size{1000, 1040}},
        {100000, 100000, {}, Size{1280, 1320}}, // no screen known: not clamped
        {1, most, screen, Size{640, 1040}},     // the minimum width wins
        {1, most, {}, Size{1280, most}},
        {most, 1, screen, Size{1280, 400}}, // the minimum height wins
        {most, most, {1280, 700}, Size{660, 700}},
        {0, 1080, screen, std::nullopt},
        {1920, -1, screen, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(firstContentSize(c.remoteW, c.remoteH, c.available), c.expected) << c.remoteW << "x" << c.remoteH;
    }
}

TEST(SessionWindowSize, SavedFrameLandsOnAScreenThatExists)
{
    const std::vector<Rect> screens{{0, 0, 1920, 1080}, {1920, 0, 1280, 1024}};
    const struct {
        const char* what;
        Rect saved;
        std::optional<Rect> expected;
    } cases[] = {
        {"inside the primary", {100, 100, 1280, 800}, Rect{100, 100, 1280, 800}},
        {"mostly on the second screen", {1800, 50, 1000, 800}, Rect{1920, 50, 1000, 800}},
        {"on a screen since unplugged", {4000, 200, 800, 600}, Rect{1120, 200, 800, 600}},
        {"above the screens", {300, -500, 800, 600}, Rect{300, 0, 800, 600}},
        {"larger than its screen", {2000, 0, 1500, 1200}, Rect{1920, 0, 1280, 1024}},
        {"no area", {10, 10, 0, 600}, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(frameOnScreens(c.saved, screens), c.expected) << c.what;
    }
    EXPECT_FALSE(frameOnScreens({0, 0, 800, 600}, {}));
}

TEST(WindowTexts, CountdownOnlyWhileItRuns)
{
    EXPECT_EQ(text::smsButtonText(0), "发送验证码");
    EXPECT_EQ(text::smsButtonText(59), "重发验证码（59）");
    EXPECT_EQ(text::hostStatus(std::nullopt), "可被控");
    EXPECT_EQ(text::hostStatus("Alice"), "被控中 · Alice");
    EXPECT_EQ(text::sessionWindowTitle("Alice"), "Tavoro — Alice");
}

} // namespace
} // namespace tavoro::ui
