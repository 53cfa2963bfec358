// tavoro-host answering calls from scripted controllers through a real tavoro-rendezvous, streaming a
// private Xvfb and taking input on it.
#include "support/hosting_fixture.h"
#include "support/x_client.h"

#include <gtest/gtest.h>

#include <csignal>

namespace tavoro::test {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

TEST(Hosting, TheCallerSeesTheScreenOverUdpAndViewersThroughTheServer)
{
    HostingSetup setup(TAVORO_RENDEZVOUS_BIN, TAVORO_HOST_BIN, 640, 360);
    ASSERT_TRUE(setup.ready());
    XClient x(setup.screen.display());
    x.window({0, 0, 640, 360}, 0x2060C0);
    x.sync();

    auto primary = setup.controller("100000001");
    ASSERT_TRUE(primary);
    EXPECT_EQ(primary->call(setup.hostId, "wrong"), "密码错误");
    ASSERT_EQ(primary->call(setup.hostId, setup.password), "accepted");
    const auto first = primary->nextPicture();
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->keyframe);
    EXPECT_EQ(std::make_pair(first->width, first->height), std::make_pair(640, 360));
    EXPECT_NEAR(first->colour >> 16 & 0xFF, 0x20, 8);
    EXPECT_NEAR(first->colour >> 8 & 0xFF, 0x60, 8);
    EXPECT_NEAR(first->colour & 0xFF, 0xC0, 8);
    EXPECT_TRUE(primary->nextSignal("control_state"));

    // Once the UDP path is up, the next keyframe and everything after it comes over UDP.
    x.fill(x.root(), {0, 0, 640, 360}, 0x000000);
    std::optional<ScriptedController::Picture> overUdp;
    for (int i = 0; i < 30 && !overUdp; ++i) {
        x.window({i * 10, 0, 10, 10}, 0xFFFFFF);
        x.sync();
        if (auto picture = primary->nextPicture(500ms); picture && picture->overUdp) {
            overUdp = picture;
        }
    }
    ASSERT_TRUE(overUdp) << "no picture came over UDP";
    EXPECT_TRUE(overUdp->keyframe) << "the first picture over UDP stands on its own";

    // Three viewers on a still screen each get a picture through the server; a fifth controller is refused.
    std::vector<std::unique_ptr<ScriptedController>> viewers;
    for (const std::string id : {"100000002", "100000003", "100000004"}) {
        viewers.push_back(setup.controller(id));
        ASSERT_EQ(viewers.back()->call(setup.hostId, setup.password, "view"), "accepted");
        const auto picture = viewers.back()->nextPicture(3s);
        ASSERT_TRUE(picture) << id << " got no picture of the still screen";
        EXPECT_FALSE(picture->overUdp);
        EXPECT_TRUE(picture->keyframe);
    }
    auto fifth = setup.controller("100000005");
    EXPECT_EQ(fifth->call(setup.hostId, setup.password, "view"), "too_many_controllers");

    // A viewer that asks for control clicks on the host's screen.
    auto watched = x.window({0, 0, 640, 360}, 0x404040, XCB_EVENT_MASK_BUTTON_PRESS);
    x.sync();
    viewers[0]->signal("req_control");
    ASSERT_TRUE(viewers[0]->nextSignal("control_state", 5s));
    viewers[0]->input({{"kind", "mouse_move"}, {"x", 0.25}, {"y", 0.5}});
    viewers[0]->input({{"kind", "mouse_btn"}, {"btn", "left"}, {"down", true}});
    viewers[0]->input({{"kind", "mouse_btn"}, {"btn", "left"}, {"down", false}});
    auto press = x.waitForEvent(XCB_BUTTON_PRESS);
    ASSERT_TRUE(press);
    const auto& event = *reinterpret_cast<const xcb_button_press_event_t*>(press.get());
    EXPECT_EQ(std::make_pair(int(event.root_x), int(event.root_y)), std::make_pair(160, 180));
    (void)watched;

    // Stopping the host tells every controller.
    EXPECT_EQ(setup.host->stop(SIGTERM), 0);
    for (auto* controller : {primary.get(), viewers[0].get(), viewers[2].get()}) {
        const auto bye = controller->nextOfType("bye", 5s);
        ASSERT_TRUE(bye);
        EXPECT_EQ((*bye)["reason"], "host_close");
    }
}

TEST(Hosting, SwitchingMonitorsChangesTheStreamAndWhereClicksLand)
{
    HostingSetup setup(TAVORO_RENDEZVOUS_BIN, TAVORO_HOST_BIN, 1600, 450);
    ASSERT_TRUE(setup.ready());
    ASSERT_TRUE(setup.screen.splitIntoTwoMonitors(800, 450, 640, 360));
    XClient x(setup.screen.display());
    x.window({0, 0, 1600, 450}, 0x303030, XCB_EVENT_MASK_BUTTON_PRESS);
    x.sync();

    auto primary = setup.controller("100000001");
    ASSERT_EQ(primary->call(setup.hostId, setup.password), "accepted");
    const auto monitors = primary->nextSignal("monitors");
    ASSERT_TRUE(monitors);
    EXPECT_EQ((*monitors)["count"], 2);
    EXPECT_EQ((*monitors)["index"], 0);
    const auto first = primary->nextPicture();
    ASSERT_TRUE(first);
    EXPECT_EQ(std::make_pair(first->width, first->height), std::make_pair(800, 450));

    primary->input({{"kind", "set_monitor"}, {"index", 1}});
    const auto switched = primary->nextSignal("monitors");
    ASSERT_TRUE(switched);
    EXPECT_EQ((*switched)["index"], 1);
    std::optional<ScriptedController::Picture> second;
    for (int i = 0; i < 10 && (!second || second->width != 640); ++i) {
        second = primary->nextPicture(2s);
    }
    ASSERT_TRUE(second);
    EXPECT_EQ(std::make_pair(second->width, second->height), std::make_pair(640, 360));

    primary->input({{"kind", "mouse_move"}, {"x", 0.5}, {"y", 0.5}});
    primary->input({{"kind", "mouse_btn"}, {"btn", "left"}, {"down", true}});
    auto press = x.waitForEvent(XCB_BUTTON_PRESS);
    ASSERT_TRUE(press);
    const auto& event = *reinterpret_cast<const xcb_button_press_event_t*>(press.get());
    EXPECT_EQ(std::make_pair(int(event.root_x), int(event.root_y)), std::make_pair(1120, 180));
}

} // namespace
} // namespace tavoro::test
