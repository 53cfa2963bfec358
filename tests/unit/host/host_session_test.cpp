#include "host/host_session.h"

#include "core/log.h"
#include "platform/fake/fake_capture_source.h"
#include "platform/fake/fake_permissions.h"
#include "platform/fake/manual_clock.h"
#include "platform/fake/recording_input_sink.h"
#include "platform/fake/scripted_h264_encoder.h"
#include "support/fake_peer_link.h"
#include "support/recording_sender.h"

#include <gtest/gtest.h>

namespace tavoro::host {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

const std::string kPrimary = "111111111";
const std::string kViewerA = "222222222";
const std::string kViewerB = "333333333";
const std::string kViewerC = "444444444";

class HostSessionTest : public ::testing::Test {
protected:
    HostSessionTest()
    {
        source.displayList = platform::fake::sideBySide(2, 640, 360);
        // Every third picture is a keyframe: parameter sets and an IDR slice; the others one P slice.
        for (int i = 0; i < 21; ++i) {
            const auto n = static_cast<std::uint8_t>(i + 1);
            if (i % 3 == 0) {
                encoders.script.push_back({{0, 0, 0, 1, 0x67, n, 0, 0, 0, 1, 0x68, n, 0, 0, 0, 1, 0x65, n}, true});
            } else {
                encoders.script.push_back({{0, 0, 0, 1, 0x41, n}, false});
            }
        }
    }
    ~HostSessionTest() override
    {
        if (session) {
            session->close(false, "host_close");
        }
    }

    std::shared_ptr<HostSession> make(bool injectInput = true)
    {
        session = HostSession::create(
            {sender, media, scheduler, clock, std::make_unique<test::FakePeerLink>(link)}, "c1", kPrimary,
            injectInput);
        session->onStatus = [this](const std::string& text) { statuses.push_back(text); };
        return session;
    }
    std::shared_ptr<HostSession> started(bool injectInput = true)
    {
        make(injectInput)->start();
        return session;
    }
    void deliverPicture()
    {
        const auto& config = source.last().config;
        source.last().deliver({platform::FrameStatus::complete,
            std::make_shared<platform::PixelBuffer>(config.width, config.height)});
    }
    void setConnected(bool connected)
    {
        std::lock_guard lock(link->mutex);
        link->state.connected = connected;
    }
    std::size_t framesOverUdp()
    {
        std::lock_guard lock(link->mutex);
        return link->sentFrames.size();
    }
    // The destination IDs of the relayed frames, in order.
    std::vector<std::string> relayedTo() const
    {
        std::vector<std::string> ids;
        for (const auto& bytes : sender.binaries()) {
            ids.emplace_back(bytes.begin() + 1, bytes.begin() + 10);
        }
        return ids;
    }
    std::vector<std::string> holdersSentTo(const std::string& id) const
    {
        std::vector<std::string> holders;
        for (const auto& message : sender.signals("control_state", id)) {
            holders.push_back(message["payload"]["holder"]);
        }
        return holders;
    }

    platform::fake::ManualClock clockStorage;
    std::shared_ptr<const core::Clock> clock{std::shared_ptr<const core::Clock>(), &clockStorage};
    platform::fake::ManualScheduler scheduler{clockStorage};
    platform::fake::FakeCaptureSource source;
    platform::fake::ScriptedH264EncoderFactory encoders;
    platform::fake::RecordingInputSink input;
    platform::fake::FakePermissions permissions;
    HostMedia media{source, encoders, input, permissions, "lab-host"};
    test::RecordingSender sender;
    std::shared_ptr<test::FakeLinkRecord> link = std::make_shared<test::FakeLinkRecord>();
    std::vector<std::string> statuses;
    std::shared_ptr<HostSession> session;
};

TEST_F(HostSessionTest, ControlStateIsRepeatedAfterEveryChange)
{
    started();
    scheduler.advance(10s);
    EXPECT_EQ(holdersSentTo(kPrimary), std::vector<std::string>(6, kPrimary));

    ASSERT_TRUE(session->attachViewer(kViewerA, "c2"));
    sender.clear();
    session->ingestSignal("req_control", nullptr, "999999999"); // not attached: nothing
    EXPECT_TRUE(sender.texts().empty());
    session->ingestSignal("req_control", nullptr, kViewerA);
    scheduler.advance(10s);
    EXPECT_EQ(holdersSentTo(kViewerA), std::vector<std::string>(4, kViewerA));

    sender.clear();
    session->ingestSignal("release_control", nullptr, kPrimary); // not the holder
    EXPECT_TRUE(sender.texts().empty());
    session->ingestSignal("release_control", nullptr, kViewerA);
    EXPECT_EQ(session->controlHolder(), "none");
    EXPECT_EQ(holdersSentTo(kPrimary), std::vector<std::string>{"none"});
}

TEST_F(HostSessionTest, OnlyTheHolderInjectsButUdpInputAlwaysDoes)
{
    started();
    session->attachViewer(kViewerA, "c2");
    const json click{{"kind", "mouse_btn"}, {"btn", "left"}, {"down", true}};
    session->handleInput(click, kViewerA);
    EXPECT_TRUE(input.events.empty());
    session->handleInput(click, kPrimary);
    EXPECT_EQ(input.events.size(), 1u);

    session->ingestSignal("req_control", nullptr, kViewerA);
    session->handleInput(click, kPrimary);
    EXPECT_EQ(input.events.size(), 1u);
    const std::string datagram = click.dump();
    session->link().onInput(std::vector<std::uint8_t>(datagram.begin(), datagram.end()));
    session->link().onInput({'{', 'x'}); // not JSON: dropped
    EXPECT_EQ(input.events.size(), 2u);
}

TEST_F(HostSessionTest, MonitorSwitchFollowsTheHolderEvenWithoutInjection)
{
    started(false);
    session->handleInput({{"kind", "set_monitor"}, {"index", 1.9}}, kViewerA);
    EXPECT_EQ(source.streams.size(), 1u);
    session->handleInput({{"kind", "set_monitor"}, {"index", 1.9}}, kPrimary);
    ASSERT_EQ(source.streams.size(), 2u);
    EXPECT_EQ(source.last().display.bounds.x, 640);
    const auto monitors = sender.signals("monitors", kPrimary);
    ASSERT_EQ(monitors.size(), 2u);
    EXPECT_EQ(monitors.back()["payload"], (json{{"count", 2}, {"index", 1}, {"name", "lab-host"}}));
    session->handleInput({{"kind", "mouse_move"}, {"x", 0.5}, {"y", 0.5}}, kPrimary);
    EXPECT_TRUE(input.events.empty());
}

TEST_F(HostSessionTest, ViewersAttachUpToThreeAndGetTheCurrentMonitors)
{
    started();
    EXPECT_TRUE(session->attachViewer(kViewerA, "c2"));
    EXPECT_TRUE(session->attachViewer(kViewerA, "c2b")); // same device: one record, new call id
    EXPECT_TRUE(session->attachViewer(kViewerB, "c3"));
    EXPECT_TRUE(session->attachViewer(kViewerC, "c4"));
    EXPECT_FALSE(session->attachViewer("555555555", "c5"));
    EXPECT_EQ(session->viewerCount(), 3u);
    EXPECT_EQ(sender.signals("monitors", kViewerA).back()["call_id"], "c2b");
    EXPECT_EQ(sender.signals("monitors", kViewerC).size(), 1u);
    EXPECT_EQ(statuses.back(), "👥 444444444 也连上了你的电脑（仅查看，可请求控制）· 共 4 个控制端");
    EXPECT_GE(source.last().frameRequests, 3); // a joining viewer gets a picture of a still screen
}

TEST_F(HostSessionTest, OneEncodeGoesToThePrimaryOverUdpAndToViewersThroughTheServer)
{
    log::Capture logged;
    started();
    session->attachViewer(kViewerA, "c2");
    session->attachViewer(kViewerB, "c3");
    setConnected(true);
    deliverPicture(); // a keyframe
    EXPECT_EQ(framesOverUdp(), 1u);
    EXPECT_EQ(relayedTo(), (std::vector<std::string>{kViewerA, kViewerB}));
    EXPECT_EQ(logged.count("Tavoro host: 首帧已发 640×360 (18 B)"), 1u);

    // A lost path: through the server, and a keyframe makes good what was lost on the way.
    sender.clear();
    setConnected(false);
    deliverPicture();
    EXPECT_EQ(relayedTo(), (std::vector<std::string>{kPrimary, kViewerA, kViewerB}));
    const auto body = sender.binaries().front();
    EXPECT_EQ(std::vector<std::uint8_t>(body.begin() + 10, body.begin() + 19),
        (std::vector<std::uint8_t>{0x02, 0x80, 0x02, 0, 0, 0x68, 0x01, 0, 0}));
    deliverPicture();
    EXPECT_TRUE(encoders.log->forcedKeyframes.back());

    // The path back: the primary takes it from a keyframe on; a delta before it still goes through the
    // server and asks for a keyframe at once.
    setConnected(true);
    deliverPicture(); // keyframe
    EXPECT_EQ(framesOverUdp(), 2u);
    setConnected(false);
    deliverPicture();
    setConnected(true);
    sender.clear();
    scheduler.runDue();
    const int requests = source.last().frameRequests;
    deliverPicture(); // delta
    EXPECT_EQ(relayedTo(), (std::vector<std::string>{kPrimary, kViewerA, kViewerB}));
    scheduler.runDue();
    EXPECT_EQ(source.last().frameRequests, requests + 1);
    deliverPicture(); // keyframe
    EXPECT_EQ(framesOverUdp(), 3u);
}

TEST_F(HostSessionTest, AnEncoderThatFailsIsTriedAgainWithOneLogLine)
{
    log::Capture logged;
    encoders.fail = true;
    started();
    const json speed{{"mode", 2}};
    session->ingestSignal("quality", &speed, kPrimary);
    for (int i = 0; i < 3; ++i) {
        deliverPicture();
    }
    EXPECT_EQ(logged.count("Tavoro: H.264 编码器创建失败"), 1u);
    encoders.fail = false;
    deliverPicture();
    EXPECT_EQ(sender.binaries().size(), 1u);
    ASSERT_EQ(encoders.requested.size(), 4u);
    EXPECT_EQ(encoders.requested.back().bitrateKbps, 3000) << "a new encoder starts at the current bitrate";
}

TEST_F(HostSessionTest, PromotedViewerTakesOverThroughTheServerWithAKeyframe)
{
    started();
    session->attachViewer(kViewerA, "c2");
    session->attachViewer(kViewerB, "c3");
    deliverPicture();
    ASSERT_TRUE(session->promoteNextViewer());
    EXPECT_EQ(session->peerId(), kViewerA);
    EXPECT_EQ(session->controlHolder(), kViewerA);
    EXPECT_TRUE(link->stopped);
    EXPECT_FALSE(sender.signals("monitors", kViewerA).empty());
    sender.clear();
    deliverPicture();
    EXPECT_TRUE(encoders.log->forcedKeyframes.back());
    EXPECT_EQ(relayedTo(), (std::vector<std::string>{kViewerA, kViewerB}));
    EXPECT_EQ(statuses.back(), "🔁 111111111 已离开，222222222 接续会话");

    session->removeViewer(kViewerB);
    EXPECT_FALSE(session->promoteNextViewer());
}

TEST_F(HostSessionTest, QualityOnlyFromAttachedControllers)
{
    started();
    session->ingestSignal("quality", nullptr, kPrimary);
    const json best{{"mode", 1}};
    session->ingestSignal("quality", &best, "999999999");
    EXPECT_EQ(session->currentBitrateKbps(), 8000);
    session->ingestSignal("quality", &best, kPrimary);
    EXPECT_EQ(session->currentBitrateKbps(), 20000);
    EXPECT_EQ(source.last().fpsChanges, std::vector<int>{22});
    session->attachViewer(kViewerA, "c2"); // viewers receive through the server: capped
    EXPECT_EQ(session->currentBitrateKbps(), 5000);
    const json fast{{"mode", "fast"}};
    session->ingestSignal("quality", &fast, kViewerA);
    EXPECT_EQ(session->currentBitrateKbps(), 3000);
}

TEST_F(HostSessionTest, NoUdpPathCapsTheStreamOnTheInjectedClock)
{
    log::Capture logged;
    started();
    const json best{{"mode", 1}};
    session->ingestSignal("quality", &best, kPrimary);
    scheduler.advance(2s);
    EXPECT_EQ(session->currentBitrateKbps(), 20000);
    scheduler.advance(1s);
    EXPECT_EQ(session->currentBitrateKbps(), 5000);
    EXPECT_EQ(logged.count("码率限至 5000 kbps"), 1u);
}

TEST_F(HostSessionTest, CloseSendsByeToViewersAndNothingAfterwards)
{
    log::Capture logged;
    started();
    session->attachViewer(kViewerA, "c2");
    session->attachViewer(kViewerB, "c3");
    sender.clear();
    session->close(false, "host_close");
    session->close(true, "host_close");
    std::vector<std::string> byes;
    for (const auto& message : sender.texts()) {
        EXPECT_EQ(message["type"], "bye");
        EXPECT_EQ(message["reason"], "host_close");
        byes.push_back(message["to"]);
    }
    EXPECT_EQ(byes, (std::vector<std::string>{kViewerA, kViewerB}));
    EXPECT_EQ(logged.count("sendBye=false extras=2"), 1u);
    EXPECT_TRUE(link->stopped);
    EXPECT_EQ(source.liveStreams(), 0);

    sender.clear();
    scheduler.advance(5s);
    session->handleInput({{"kind", "set_monitor"}, {"index", 1}}, "");
    EXPECT_TRUE(sender.texts().empty());
    EXPECT_EQ(source.liveStreams(), 0);
}

TEST_F(HostSessionTest, MissingScreenPermissionStartsNothing)
{
    permissions.screen = false;
    started();
    scheduler.advance(5s);
    EXPECT_TRUE(source.streams.empty());
    EXPECT_FALSE(link->started);
    EXPECT_TRUE(sender.texts().empty());
    EXPECT_EQ(session->controlHolder(), "none");
}

} // namespace
} // namespace tavoro::host
