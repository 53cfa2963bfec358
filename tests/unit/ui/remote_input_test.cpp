#include "ui/logic/remote_input.h"

#include "platform/fake/manual_clock.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace tavoro::ui {
namespace {

using nlohmann::json;

json move(double x, double y) { return {{"kind", "mouse_move"}, {"x", x}, {"y", y}}; }
json button(const char* name, bool down) { return {{"kind", "mouse_btn"}, {"btn", name}, {"down", down}}; }
json wheel(int dx, int dy) { return {{"kind", "wheel"}, {"dx", dx}, {"dy", dy}}; }
json key(int vk, bool down) { return {{"kind", "key"}, {"vk", vk}, {"down", down}, {"ext", false}}; }

// X key codes of a PC keyboard.
constexpr std::uint32_t keyShiftL = 50;
constexpr std::uint32_t keyControlL = 37;
constexpr std::uint32_t key1 = 10;
constexpr std::uint32_t keyC = 54;
constexpr std::uint32_t keyCapsLock = 66;

constexpr Modifiers none{};
constexpr Modifiers shift{.shift = true};
constexpr Modifiers control{.control = true};

class RemoteInputTest : public ::testing::Test {
protected:
    RemoteInputTest() { input_.setPicture({0, 218.75, 1000, 562.5}); }

    std::vector<json> takeSent() { return std::exchange(sent_, {}); }

    platform::fake::ManualClock clock_;
    platform::fake::ManualScheduler scheduler_{clock_};
    std::vector<json> sent_;
    RemoteInput input_{scheduler_, [this](json fields) { sent_.push_back(std::move(fields)); }};
};

TEST_F(RemoteInputTest, MovesGoOutAtMostOncePerTickNewestFirstAndTheClockStopsWhenIdle)
{
    for (int i = 0; i <= 500; ++i) {
        input_.mouseMoved({static_cast<double>(i), 500});
    }
    input_.mouseMoved({500, 50}); // off the picture: ignored
    EXPECT_TRUE(takeSent().empty()) << "nothing before the first tick";

    scheduler_.advance(MoveCoalescer::tickPeriod);
    EXPECT_EQ(takeSent(), std::vector{move(0.5, 0.5)});

    // A second of continuous motion at 1000 events a second sends no more than 60 moves.
    for (int ms = 0; ms < 1000; ++ms) {
        input_.mouseMoved({static_cast<double>(ms % 1000), 500});
        scheduler_.advance(std::chrono::milliseconds(1));
    }
    const auto sent = takeSent();
    EXPECT_LE(sent.size(), 60u);
    EXPECT_GE(sent.size(), 58u);

    scheduler_.advance(MoveCoalescer::tickPeriod * 3);
    EXPECT_LE(takeSent().size(), 1u);
    EXPECT_EQ(scheduler_.pendingCount(), 0u) << "an idle pointer stops the clock";
}

TEST_F(RemoteInputTest, ButtonsAndWheelNeverOvertakeAMove)
{
    const PointF centre{500, 500};
    const PointF blackBar{500, 100};
    const struct {
        const char* what;
        std::function<void(RemoteInput&)> act;
        std::vector<json> expected;
    } cases[] = {
        {"press sends its own spot, not the pending one",
            [&](RemoteInput& in) { in.buttonPressed(MouseButton::left, centre); },
            {move(0.5, 0.5), button("left", true)}},
        {"press on the black bar flushes the pending move",
            [&](RemoteInput& in) { in.buttonPressed(MouseButton::right, blackBar); },
            {move(0.25, 0.5), button("right", true)}},
        {"right release flushes, sends no spot of its own",
            [&](RemoteInput& in) { in.buttonReleased(MouseButton::right, centre); },
            {move(0.25, 0.5), button("right", false)}},
        {"left release at its spot", [&](RemoteInput& in) { in.buttonReleased(MouseButton::left, centre); },
            {move(0.5, 0.5), button("left", false)}},
        {"other buttons travel as middle", [&](RemoteInput& in) { in.buttonPressed(MouseButton::other, blackBar); },
            {move(0.25, 0.5), button("middle", true)}},
        {"wheel flushes first", [&](RemoteInput& in) { in.wheelTurned(0, -120); }, {move(0.25, 0.5), wheel(0, -1)}},
    };
    for (const auto& c : cases) {
        input_.mouseMoved({250, 500});
        c.act(input_);
        EXPECT_EQ(takeSent(), c.expected) << c.what;
        scheduler_.advance(MoveCoalescer::tickPeriod);
        EXPECT_EQ(takeSent(), std::vector<json>{}) << c.what << ": nothing left for the next tick";
        input_.releaseAll();
        takeSent();
    }
}

TEST(WheelNotches, RoundsHalfAwayFromZeroAndCarriesTheRest)
{
    const struct {
        std::vector<int> deltas;
        std::vector<int> notches;
    } cases[] = {
        {{120, -240}, {1, -2}},
        {{60, 60}, {1, 0}},
        {{59, 59}, {0, 1}},
        {{-180, -60}, {-2, 0}},
        {{-180, 120}, {-2, 2}}, // the carried +60 makes the next 120 one and a half
        {{30, 30, 30, 30, 30}, {0, 1, 0, 0, 0}},
        {{0}, {0}},
    };
    for (const auto& c : cases) {
        WheelNotches wheelNotches;
        std::vector<int> notches;
        for (const int delta : c.deltas) {
            const auto steps = wheelNotches.add(delta, -delta);
            EXPECT_EQ(steps.dx, -steps.dy);
            notches.push_back(steps.dx);
        }
        EXPECT_EQ(notches, c.notches) << ::testing::PrintToString(c.deltas);
    }
}

TEST_F(RemoteInputTest, KeysTravelByPositionWithModifiersAsTheirOwnKeys)
{
    input_.keyChanged(keyShiftL, true, shift);
    input_.keyChanged(key1, true, shift); // "!" on the local layout: still the "1" key
    input_.keyChanged(key1, false, shift);
    input_.keyChanged(keyShiftL, false, none);
    EXPECT_EQ(takeSent(), (std::vector{key(16, true), key(49, true), key(49, false), key(16, false)}));

    input_.keyChanged(keyCapsLock, true, none);
    input_.modifiersChanged(control);
    input_.modifiersChanged(Modifiers{.shift = true, .control = true, .super = true});
    input_.modifiersChanged(Modifiers{.super = true});
    input_.modifiersChanged(Modifiers{.super = true});
    EXPECT_EQ(takeSent(), (std::vector{key(17, true), key(16, true), key(91, true), key(16, false), key(17, false)}))
        << "Caps Lock does not travel; each flag sends only its own transition";
}

TEST_F(RemoteInputTest, LeavingTheViewReleasesEverythingItPressed)
{
    input_.buttonPressed(MouseButton::left, {500, 500});
    input_.keyChanged(keyControlL, true, control);
    input_.keyChanged(keyC, true, control);
    input_.keyChanged(keyC, true, control); // auto-repeat
    input_.keyChanged(key1, true, control);
    input_.keyChanged(key1, false, control);
    input_.mouseMoved({250, 500});
    takeSent();

    input_.releaseAll();
    EXPECT_EQ(takeSent(), (std::vector{move(0.25, 0.5), button("left", false), key(67, false), key(17, false)}));

    input_.releaseAll();
    EXPECT_EQ(takeSent(), std::vector<json>{}) << "nothing is held twice";
    input_.keyChanged(keyC, true, control);
    EXPECT_EQ(takeSent(), (std::vector{key(17, true), key(67, true)})) << "Control is pressed again after the return";
}

} // namespace
} // namespace tavoro::ui
