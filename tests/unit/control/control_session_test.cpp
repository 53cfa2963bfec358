#include "control/control_session.h"

#include "platform/fake/fake_control_media.h"
#include "platform/fake/fixed_user_folders.h"
#include "platform/fake/manual_clock.h"
#include "platform/fake/manual_main_queue.h"
#include "platform/fake/manual_serial_queue.h"
#include "platform/fake/recording_audio_sink.h"
#include "protocol/media_frame.h"
#include "support/fake_peer_link.h"
#include "support/recording_sender.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>

namespace tavoro::control {
namespace {

using nlohmann::json;
using Bytes = std::vector<std::uint8_t>;

const std::string kHost = "200000002";
const std::string kMe = "100000001";

// Hands out sinks whose records outlive them, so that the test can read what a closed session did.
struct SinkShelf final : platform::AudioSinkFactory {
    struct Shared final : platform::AudioSink {
        std::shared_ptr<platform::fake::RecordingAudioSink> record;
        bool start(int rate, int channels) override { return record->start(rate, channels); }
        void play(std::span<const std::vector<float>> planes) override { record->play(planes); }
        void stop() override { record->stop(); }
    };
    std::vector<std::shared_ptr<platform::fake::RecordingAudioSink>> made;
    std::unique_ptr<platform::AudioSink> create() override
    {
        auto sink = std::make_unique<Shared>();
        sink->record = made.emplace_back(std::make_shared<platform::fake::RecordingAudioSink>());
        return sink;
    }
};

platform::fake::FixedUserFolders folders(const std::filesystem::path& dir)
{
    platform::fake::FixedUserFolders folders;
    folders.videosPath = folders.picturesPath = folders.downloadsPath = folders.temporaryPath = dir;
    return folders;
}

Bytes body(std::uint8_t type, std::size_t size, std::uint32_t width = 1920, std::uint32_t height = 1080)
{
    Bytes bytes(size, 0x07);
    if (size >= 9) {
        bytes[0] = type;
        for (int i = 0; i < 4; ++i) {
            bytes[1 + i] = static_cast<std::uint8_t>(width >> (8 * i));
            bytes[5 + i] = static_cast<std::uint8_t>(height >> (8 * i));
        }
    }
    return bytes;
}

Bytes relayed(const std::string& id, const Bytes& frame)
{
    Bytes message(1 + id.size() + frame.size(), 0xFE);
    std::copy(id.begin(), id.end(), message.begin() + 1);
    std::copy(frame.begin(), frame.end(), message.begin() + 1 + static_cast<std::ptrdiff_t>(id.size()));
    return message;
}

class ControlSessionTest : public ::testing::Test {
protected:
    ControlSessionTest() { session_ = make(kMe, "Studio"); }

    std::shared_ptr<ControlSession> make(const std::string& myId, const std::string& name)
    {
        link_ = std::make_shared<test::FakeLinkRecord>();
        auto session = ControlSession::create(
            {sender_, media_, main_, timers_, wallClock_, std::make_unique<test::FakePeerLink>(link_)}, "call-1", kHost,
            myId, name);
        session->start();
        return session;
    }

    void run()
    {
        while (frames_->drain() + decodes_->drain() + main_.drain() > 0) {
        }
    }
    void receive(const Bytes& frame, const std::string& from = kHost)
    {
        session_->handleBinary(relayed(from, frame));
        run();
    }
    void signal(const std::string& kind, const json& payload)
    {
        session_->ingestSignal(kind, payload.is_null() ? nullptr : &payload);
        run();
    }
    void tick()
    {
        timers_.advance(std::chrono::seconds(1));
        run();
    }
    std::vector<json> sent(const std::string& type) const
    {
        std::vector<json> found;
        for (auto& message : sender_.texts()) {
            if (message["type"] == type) {
                found.push_back(message);
            }
        }
        return found;
    }

    test::RecordingSender sender_;
    platform::fake::NoH264Decoders decoders_;
    platform::fake::TinyImageCodec images_;
    SinkShelf sinks_;
    test::TempDir dir_;
    platform::fake::FixedUserFolders folders_ = folders(dir_.path());
    std::shared_ptr<platform::fake::ManualSerialQueue> frames_ = std::make_shared<platform::fake::ManualSerialQueue>();
    std::shared_ptr<platform::fake::ManualSerialQueue> decodes_ = std::make_shared<platform::fake::ManualSerialQueue>();
    ControlMedia media_{decoders_, images_, sinks_, folders_, frames_, decodes_};
    platform::fake::ManualMainQueue main_;
    platform::fake::ManualClock clock_;
    platform::fake::ManualScheduler timers_{clock_};
    platform::fake::ManualWallClock wallClock_{std::chrono::system_clock::time_point()};
    std::shared_ptr<test::FakeLinkRecord> link_;
    std::shared_ptr<ControlSession> session_;
};

TEST_F(ControlSessionTest, FramesAreCountedAndDispatchedByType)
{
    struct Case {
        const char* what;
        Bytes message;
        int bytes;  // counted bytes
        int frames; // counted video frames
    };
    const Case cases[] = {
        {"relay message of 10 bytes", Bytes(10, 0xFE), 0, 0},
        {"another marker", [] { auto m = relayed(kHost, body(0x02, 20)); m[0] = 0xFD; return m; }(), 0, 0},
        {"video body of exactly 9 bytes", relayed(kHost, body(0x02, 9)), 0, 0},
        {"audio body of exactly 9 bytes", relayed(kHost, body(0x10, 9, 0)), 9, 0},
        {"unknown type 0x20", relayed(kHost, body(0x20, 50)), 50, 0},
        {"video from the host", relayed(kHost, body(0x02, 100)), 100, 1},
        {"video naming this computer (a server that leaves the ID)", relayed(kMe, body(0x02, 100)), 100, 1},
        {"video from a stranger", relayed("300000003", body(0x02, 100)), 0, 0},
    };
    // Each message 1024 times, so that the second's KB/s is the byte count of one.
    for (const auto& c : cases) {
        for (int i = 0; i < 1024; ++i) {
            session_->handleBinary(c.message);
        }
        run();
        tick();
        EXPECT_EQ(session_->kbps.get(), c.bytes) << c.what;
        EXPECT_EQ(session_->fps.get(), 1024 * c.frames) << c.what;
    }
    EXPECT_EQ(session_->remoteW.get(), 1920);
    EXPECT_EQ(session_->remoteH.get(), 1080);
}

TEST_F(ControlSessionTest, OneSecondOfFramesGivesTheStatistics)
{
    for (int i = 0; i < 30; ++i) {
        link_->state.connected = false;
        session_->link().onFrame(body(0x02, 10240));
    }
    tick();
    EXPECT_EQ(session_->fps.get(), 30);
    EXPECT_EQ(session_->kbps.get(), 300);
    EXPECT_EQ(session_->linkKind.get(), LinkKind::ws);
    EXPECT_EQ(session_->rttMs.get(), -1);
    EXPECT_EQ(session_->statusLine(), "WS中转 · 1920×1080 · 30 FPS · 300 KB/s");

    const transport::Endpoint relay{0xC0000201, 3479};
    {
        std::lock_guard lock(link_->mutex);
        link_->state = {true, 12, relay, relay};
    }
    tick();
    EXPECT_EQ(session_->linkKind.get(), LinkKind::relay);
    EXPECT_EQ(session_->statusLine(), "UDP中继 · 1920×1080 · 0 FPS · 0 KB/s · 12ms");
    {
        std::lock_guard lock(link_->mutex);
        link_->state.selected = transport::Endpoint{0xC6336407, 40000};
    }
    tick();
    EXPECT_EQ(session_->linkKind.get(), LinkKind::direct);
}

TEST_F(ControlSessionTest, SizesPicturesAndTiles)
{
    receive(body(0x02, 20, 0, 720));
    EXPECT_EQ(session_->remoteW.get(), 0) << "a zero width keeps the previous size";
    auto picture = body(0x01, 13, 0, 0);
    picture[9] = 64;
    picture[10] = 48;
    receive(picture);
    EXPECT_EQ(session_->remoteW.get(), 64) << "a still picture's own size counts";
    EXPECT_EQ(session_->remoteH.get(), 48);
    EXPECT_TRUE(session_->fallbackImage.get());
    receive(body(0x02, 20, 1280, 720));
    EXPECT_FALSE(session_->fallbackImage.get()) << "video replaces the still picture";
    EXPECT_EQ(session_->remoteW.get(), 1280);
    receive(body(0x03, 20));
    receive(body(0x03, 20));
    EXPECT_EQ(session_->remoteW.get(), 1280) << "tiles are dropped";
}

TEST_F(ControlSessionTest, AudioPlaysUntilMutedOrClosed)
{
    auto audio = body(0x10, 9 + 4, 0);
    audio[1] = 0xE0;
    audio[2] = 0x01;
    audio[3] = 0;
    receive(audio);
    ASSERT_EQ(sinks_.made.size(), 1u);
    EXPECT_EQ(sinks_.made[0]->events, (std::vector<std::string>{"start 48000 1", "play 2"}));

    auto noRate = audio;
    noRate[1] = noRate[2] = 0;
    receive(noRate);
    session_->setAudioMuted(true);
    run();
    receive(audio);
    EXPECT_EQ(sinks_.made[0]->events.size(), 2u) << "rate 0 and muted chunks are dropped";

    session_->setAudioMuted(false);
    session_->close(false);
    run();
    EXPECT_EQ(sinks_.made[0]->events.back(), "stop");
    receive(audio);
    EXPECT_EQ(sinks_.made.size(), 1u) << "nothing plays or starts again after close";
}

TEST_F(ControlSessionTest, HostSignalsSetTheSessionState)
{
    signal("monitors", {{"count", 0}, {"index", 0}});
    EXPECT_EQ(session_->monitorCount.get(), 1);
    signal("monitors", {{"count", 3.0}, {"index", 2.0}, {"name", "x"}});
    EXPECT_EQ(session_->monitorCount.get(), 3);
    EXPECT_EQ(session_->monitorIndex.get(), 2);
    session_->cycleMonitor();
    ASSERT_EQ(sent("input").size(), 1u);
    EXPECT_EQ(sent("input")[0]["index"], 0);
    EXPECT_EQ(sent("input")[0]["kind"], "set_monitor");

    signal("cursor_pos", {{"xn", 0.25}, {"yn", 0.5}});
    EXPECT_EQ(session_->remoteCursor.get(), (RemoteCursor{0.25, 0.5, false}));

    signal("ice", {{"candidates", json::array()}});
    EXPECT_EQ(link_->signals, std::vector<std::string>{"ice"});

    signal("control_state", {{"holder", kMe}});
    EXPECT_TRUE(session_->controlKnown.get());
    EXPECT_TRUE(session_->hasControl.get());
    signal("control_state", {{"holder", "none"}});
    EXPECT_FALSE(session_->hasControl.get());
    signal("control_state", {{"holder", kMe}});
    signal("control_state", nullptr);
    EXPECT_FALSE(session_->hasControl.get()) << "no payload: nobody known to hold control";
}

TEST_F(ControlSessionTest, InputIsSentOnlyWhileHoldingControl)
{
    session_->sendMouseMove(1.2, -0.1);
    session_->sendKey(91, true, false);
    auto inputs = sent("input");
    ASSERT_EQ(inputs.size(), 2u) << "before the first control state input is sent";
    EXPECT_EQ(inputs[0], (json{{"type", "input"}, {"to", kHost}, {"call_id", "call-1"}, {"kind", "mouse_move"},
                             {"x", 1.0}, {"y", 0.0}}));
    EXPECT_EQ(inputs[1]["vk"], 91);

    signal("control_state", {{"holder", "300000003"}});
    session_->sendMouseBtn("left", true);
    session_->sendWheel(0, -1);
    session_->cycleMonitor();
    EXPECT_EQ(sent("input").size(), 2u);

    session_->requestControl();
    session_->sendQuality(2);
    run();
    EXPECT_EQ(sender_.signals("req_control", kHost).size(), 1u);
    EXPECT_FALSE(sender_.signals("req_control", kHost)[0].contains("payload"));
    EXPECT_EQ(sender_.signals("quality", kHost).at(0)["payload"], (json{{"mode", 2}}));
    EXPECT_EQ(session_->qualityMode.get(), 2);
    EXPECT_FALSE(session_->hasControl.get()) << "a request changes nothing until the host answers";
}

TEST_F(ControlSessionTest, EmptyOwnIdNeverHoldsControlAndNameFallsBackToTheId)
{
    session_ = make("", "");
    EXPECT_EQ(session_->peerName(), kHost);
    signal("control_state", {{"holder", ""}});
    EXPECT_FALSE(session_->hasControl.get());
}

TEST_F(ControlSessionTest, CloseSendsOneByeOnlyWhenAskedAndStopsEverything)
{
    session_->close(true);
    session_->close(true);
    session_->sendMouseMove(0.5, 0.5);
    auto byes = sent("bye");
    ASSERT_EQ(byes.size(), 1u);
    EXPECT_EQ(byes[0], (json{{"type", "bye"}, {"to", kHost}, {"call_id", "call-1"}, {"reason", "user_close"}}));
    EXPECT_TRUE(link_->stopped);
    EXPECT_TRUE(sent("input").empty());

    auto quiet = make(kMe, "x");
    quiet->close(false);
    EXPECT_EQ(sent("bye").size(), 1u);
}

TEST_F(ControlSessionTest, RecordingKeepsTheVideoPayloadsInOrder)
{
    const auto path = dir_.path() / "rec.h264";
    EXPECT_EQ(session_->startRecordingAt(path), "● 录制中：rec.h264");
    run();
    EXPECT_TRUE(session_->isRecording.get());
    auto first = body(0x02, 9 + 100);
    auto second = body(0x02, 9 + 200);
    std::fill(second.begin() + 9, second.end(), 0x42);
    for (const auto& frame : {first, body(0x01, 30), body(0x03, 30), body(0x10, 30, 0), second}) {
        receive(frame);
    }
    EXPECT_EQ(session_->toggleRecording(), "✓ 录像已保存：rec.h264");
    run();
    EXPECT_FALSE(session_->isRecording.get());
    std::ifstream file(path, std::ios::binary);
    const Bytes written{std::istreambuf_iterator<char>(file), {}};
    Bytes expected(first.begin() + 9, first.end());
    expected.insert(expected.end(), second.begin() + 9, second.end());
    EXPECT_EQ(written, expected);
    EXPECT_EQ(session_->screenshot(), "还没收到帧 — 无法截图");
}

} // namespace
} // namespace tavoro::control
