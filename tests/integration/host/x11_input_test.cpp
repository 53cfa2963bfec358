#include "host/input_injector.h"

#include "platform/linux/x11_input_sink.h"
#include "support/x_client.h"
#include "support/xvfb.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <xcb/xcb_keysyms.h>

namespace tavoro::host {
namespace {

using Json = nlohmann::json;

constexpr std::uint32_t watchedEvents = XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE |
    XCB_EVENT_MASK_POINTER_MOTION | XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_KEY_RELEASE;

// The left half of a 3840 × 1080 screen as the captured display, the screen covered by one window
// that reports input. Clicks after a monitor switch are Hosting.SwitchingMonitors...'s.
class X11InputTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.running());
        client = std::make_unique<test::XClient>(server.display());
        window = client->window({0, 0, 3840, 1080}, 0x202020, watchedEvents);
        client->focus(window);
        auto opened = platform::X11InputSink::open(server.display());
        ASSERT_TRUE(opened) << opened.error();
        sink = std::move(*opened);
        injector = std::make_unique<InputInjector>(*sink, platform::DisplayRect{0, 0, 1920, 1080});
    }

    void inject(const char* message) { injector->handle(Json::parse(message)); }

    template <class Event>
    Event next(std::uint8_t type)
    {
        auto event = client->waitForEvent(type);
        EXPECT_TRUE(event) << "no event of type " << int(type);
        return event ? *reinterpret_cast<const Event*>(event.get()) : Event{};
    }

    test::Xvfb server{3840, 1080};
    std::unique_ptr<test::XClient> client;
    xcb_window_t window = 0;
    std::unique_ptr<platform::X11InputSink> sink;
    std::unique_ptr<InputInjector> injector;
};

TEST_F(X11InputTest, MovesClicksAndDragsArriveWhereTheyWereSent)
{
    inject(R"({"kind":"mouse_move","x":0.5,"y":0.5})");
    auto motion = next<xcb_motion_notify_event_t>(XCB_MOTION_NOTIFY);
    EXPECT_EQ(motion.root_x, 960);
    EXPECT_EQ(motion.root_y, 540);
    EXPECT_EQ(client->pointer(), std::make_pair(960, 540));

    inject(R"({"kind":"mouse_btn","btn":"left","down":true})");
    auto press = next<xcb_button_press_event_t>(XCB_BUTTON_PRESS);
    EXPECT_EQ(press.detail, 1);
    EXPECT_EQ(press.root_x, 960);

    inject(R"({"kind":"mouse_move","x":0.25,"y":0.25})");
    auto drag = next<xcb_motion_notify_event_t>(XCB_MOTION_NOTIFY);
    EXPECT_EQ(drag.root_x, 480);
    EXPECT_EQ(drag.root_y, 270);
    EXPECT_TRUE(drag.state & XCB_BUTTON_MASK_1) << "motion with the button held is a drag";

    inject(R"({"kind":"mouse_btn","btn":"left","down":false})");
    auto release = next<xcb_button_release_event_t>(XCB_BUTTON_RELEASE);
    EXPECT_EQ(release.detail, 1);
    EXPECT_EQ(release.root_x, 480);

    inject(R"({"kind":"mouse_btn","btn":"right","down":true})");
    EXPECT_EQ(next<xcb_button_press_event_t>(XCB_BUTTON_PRESS).detail, 3);
    inject(R"({"kind":"mouse_btn","btn":"right","down":false})");
    inject(R"({"kind":"mouse_btn","btn":"middle","down":true})");
    EXPECT_EQ(next<xcb_button_press_event_t>(XCB_BUTTON_PRESS).detail, 2);
    inject(R"({"kind":"mouse_btn","btn":"middle","down":false})");
}

TEST_F(X11InputTest, WheelStepsBecomeWheelButtons)
{
    inject(R"({"kind":"mouse_move","x":0.5,"y":0.5})");
    inject(R"({"kind":"wheel","dx":-1,"dy":2})");
    std::vector<int> pressed;
    for (int i = 0; i < 3; ++i) {
        pressed.push_back(next<xcb_button_press_event_t>(XCB_BUTTON_PRESS).detail);
    }
    EXPECT_EQ(pressed, (std::vector<int>{4, 4, 7}));
}

TEST_F(X11InputTest, KeysArriveAsTheHostsKeycodes)
{
    inject(R"({"kind":"mouse_move","x":0.5,"y":0.5})");
    std::unique_ptr<xcb_key_symbols_t, decltype(&xcb_key_symbols_free)> symbols(
        xcb_key_symbols_alloc(client->get()), &xcb_key_symbols_free);
    const auto keysymOf = [&](xcb_keycode_t code) { return xcb_key_symbols_get_keysym(symbols.get(), code, 0); };

    inject(R"({"kind":"key","vk":16,"down":true})");
    inject(R"({"kind":"key","vk":65,"down":true})");
    inject(R"({"kind":"key","vk":65,"down":false})");
    inject(R"({"kind":"key","vk":16,"down":false})");
    inject(R"({"kind":"key","vk":186,"down":true})");
    inject(R"({"kind":"key","vk":13,"down":true})");

    EXPECT_EQ(keysymOf(next<xcb_key_press_event_t>(XCB_KEY_PRESS).detail), XK_Shift_L);
    auto letter = next<xcb_key_press_event_t>(XCB_KEY_PRESS);
    EXPECT_EQ(keysymOf(letter.detail), XK_a);
    EXPECT_TRUE(letter.state & XCB_MOD_MASK_SHIFT);
    EXPECT_EQ(keysymOf(next<xcb_key_press_event_t>(XCB_KEY_PRESS).detail), XK_Return)
        << "vk 186 is not in the table and sends nothing";
    inject(R"({"kind":"key","vk":13,"down":false})");
}

TEST(X11InputSink, OpeningFailsWithoutAServer)
{
    const auto opened = platform::X11InputSink::open(":4093");
    ASSERT_FALSE(opened);
    EXPECT_EQ(opened.error(), "无法连接 X 显示 :4093");
}

} // namespace
} // namespace tavoro::host
