// tavoro-cli as a script would run it: calling a real tavoro-host on a private Xvfb through a real
// tavoro-rendezvous, saving a screenshot and a recording, replaying input, and ending with its exit codes.
#include "platform/ffmpeg/ffmpeg_image_codec.h"
#include "support/cli_process.h"
#include "support/hosting_fixture.h"
#include "support/wait.h"
#include "support/wss_test_client.h"
#include "support/x_client.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <csignal>
#include <fstream>
#include <iostream>
#include <iterator>

namespace tavoro::test {
namespace {

using namespace std::chrono_literals;

platform::PixelBufferRef readPng(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    return platform::FfmpegImageCodec().decodeImage(bytes);
}

// 0xRRGGBB of a BGRX pixel.
std::uint32_t colourAt(const platform::PixelBuffer& picture, int x, int y)
{
    const auto* pixel = picture.row(y) + x * 4;
    return std::uint32_t(pixel[2]) << 16 | std::uint32_t(pixel[1]) << 8 | pixel[0];
}

void expectColourNear(std::uint32_t actual, std::uint32_t expected, const std::string& where)
{
    for (int shift : {16, 8, 0}) {
        EXPECT_NEAR(int(actual >> shift & 0xFF), int(expected >> shift & 0xFF), 10)
            << where << ": 0x" << std::hex << actual << " instead of 0x" << expected;
    }
}

// The picture has the size and, at points spread over it, the colour.
void expectPicture(const std::filesystem::path& png, int width, int height, std::uint32_t rgb)
{
    const auto picture = readPng(png);
    ASSERT_TRUE(picture) << png << " is not a picture";
    ASSERT_EQ(std::make_pair(picture->width(), picture->height()), std::make_pair(width, height));
    for (const auto& [x, y] : {std::pair{8, 8}, {width - 9, 8}, {width / 2, height / 3}, {8, height - 9},
             {width - 9, height - 9}}) {
        expectColourNear(colourAt(*picture, x, y), rgb, "pixel " + std::to_string(x) + "," + std::to_string(y));
    }
}

struct StreamFacts {
    int profile = -1;
    int width = 0;
    int height = 0;
};

// What libavformat's raw H.264 demuxer makes of a recording.
std::optional<StreamFacts> probeH264(const std::filesystem::path& path)
{
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), av_find_input_format("h264"), nullptr) != 0) {
        return std::nullopt;
    }
    std::optional<StreamFacts> facts;
    if (avformat_find_stream_info(format, nullptr) >= 0 && format->nb_streams == 1) {
        const auto* codec = format->streams[0]->codecpar;
        facts = StreamFacts{codec->profile, codec->width, codec->height};
    }
    avformat_close_input(&format);
    return facts;
}

TEST(CliSession, ScreenshotRecordingAndAClickOnAStillScreen)
{
    HostingSetup setup(TAVORO_RENDEZVOUS_BIN, TAVORO_HOST_BIN, 640, 360);
    ASSERT_TRUE(setup.ready());
    XClient x(setup.screen.display());
    x.window({0, 0, 640, 360}, 0x2060C0, XCB_EVENT_MASK_BUTTON_PRESS);
    x.sync();

    Cli cli(setup);
    const auto input = cli.script({R"({"kind":"mouse_move","x":0.25,"y":0.75})",
        R"({"kind":"mouse_btn","btn":"left","down":true})", R"({"sleep":0.1})",
        R"({"kind":"mouse_btn","btn":"left","down":false})"});
    // One second is up before the screenshot's default time after the first picture: it is taken at the end.
    const auto run = cli.run({"connect", setup.hostId, "--password", setup.password, "--seconds", "1", "--screenshot",
        cli.file("shot.png"), "--record", cli.file("rec.h264"), "--input", input});
    ASSERT_EQ(run.exitCode, 0) << describe(run);
    EXPECT_TRUE(printed(run, "正在连接 " + setup.hostId + " …")) << describe(run);
    EXPECT_TRUE(printed(run, "控制中 · " + setup.hostId)) << describe(run);
    EXPECT_TRUE(printed(run, "✓ 截图已保存：shot.png")) << describe(run);

    expectPicture(cli.file("shot.png"), 640, 360, 0x2060C0);
    const auto recording = probeH264(cli.file("rec.h264"));
    ASSERT_TRUE(recording) << "the recording is not an H.264 stream";
    EXPECT_EQ(recording->profile, FF_PROFILE_H264_MAIN);
    EXPECT_EQ(std::make_pair(recording->width, recording->height), std::make_pair(640, 360));

    auto press = x.waitForEvent(XCB_BUTTON_PRESS, 1s);
    ASSERT_TRUE(press) << "the click did not reach the host's screen";
    const auto& event = *reinterpret_cast<const xcb_button_press_event_t*>(press.get());
    EXPECT_EQ(std::make_pair(int(event.root_x), int(event.root_y)), std::make_pair(160, 270));
}

TEST(CliSession, RefusalsAndBadUsageEndWithTheirCodes)
{
    HostingSetup setup(TAVORO_RENDEZVOUS_BIN, TAVORO_HOST_BIN, 320, 240);
    ASSERT_TRUE(setup.ready());
    Cli cli(setup);
    const std::string offline = setup.hostId == "999999999" ? "999999998" : "999999999";
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string line;
    } cases[] = {
        {{"connect", setup.hostId, "--password", "wrong"}, 3, "对方拒绝: 密码错误"},
        {{"connect", offline, "--password", "pw42"}, 3, "对方拒绝: 对方不在线"},
        {{"connect", setup.hostId}, 2, ""},
        {{"connect", setup.hostId, "--password", "pw42", "--mode", "steer"}, 2, ""},
        {{"connect", setup.hostId, "--password", "pw42", "--input", cli.file("missing").string()}, 2, ""},
        {{"call", setup.hostId}, 2, ""},
    };
    for (const auto& c : cases) {
        const auto run = cli.run(c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.args[1] << " " << describe(run);
        if (!c.line.empty()) {
            EXPECT_TRUE(printed(run, c.line)) << describe(run);
        }
    }
}

TEST(CliSession, CtrlCEndsTheSessionAndTheHostGoingAwayLosesIt)
{
    HostingSetup setup(TAVORO_RENDEZVOUS_BIN, TAVORO_HOST_BIN, 320, 240);
    ASSERT_TRUE(setup.ready());
    Cli cli(setup);
    const std::vector<std::string> call{"connect", setup.hostId, "--password", setup.password};

    auto interrupted = cli.start(call);
    ASSERT_FALSE(interrupted->waitForStdout("控制中 · ").empty());
    ASSERT_EQ(::kill(interrupted->pid(), SIGINT), 0);
    const auto ended = Cli::ended(*interrupted);
    EXPECT_EQ(ended.exitCode, 0) << describe(ended);
    const auto toldBye = [&] {
        const auto log = setup.host->stderrLines();
        return std::any_of(log.begin(), log.end(),
            [](const std::string& line) { return line.find("reason=user_close") != line.npos; });
    };
    EXPECT_TRUE(waitFor(toldBye, 2s)) << "the host was not told the session ended";

    auto abandoned = cli.start(call);
    ASSERT_FALSE(abandoned->waitForStdout("控制中 · ").empty()) << describe(Cli::ended(*abandoned, 0ms));
    EXPECT_EQ(setup.host->stop(SIGTERM), 0);
    const auto lost = Cli::ended(*abandoned);
    EXPECT_EQ(lost.exitCode, 5) << describe(lost);
}

TEST(CliSession, TheSessionIsBackSoonAfterTheServerRestarts)
{
    HostingSetup setup(TAVORO_RENDEZVOUS_BIN, TAVORO_HOST_BIN, 320, 240);
    ASSERT_TRUE(setup.ready());
    Cli cli(setup);
    auto session = cli.start({"connect", setup.hostId, "--password", setup.password});
    ASSERT_FALSE(session->waitForStdout("控制中 · ").empty()) << describe(Cli::ended(*session, 0ms));

    ASSERT_TRUE(setup.server.process->stop(SIGKILL));
    ASSERT_FALSE(session->waitForStdout("连接断开，正在重连…").empty()) << describe(Cli::ended(*session, 0ms));
    const int wss = setup.server.wss;
    setup.server = startRendezvous(TAVORO_RENDEZVOUS_BIN,
        {"--listen", "127.0.0.1:" + std::to_string(wss), "--relay-port", std::to_string(setup.server.relay),
            "--stun-port", std::to_string(setup.server.stun), "--state-dir", setup.state.path().string()});
    ASSERT_EQ(setup.server.wss, wss) << "the server could not take its port again";
    const auto back = std::chrono::steady_clock::now();
    const auto resumed = [&] { return session->countStdout("控制中 · ") >= 2; };
    EXPECT_TRUE(waitFor(resumed, 3s)) << describe(Cli::ended(*session, 0ms));
    std::cout << "session back "
              << std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - back).count()
              << " ms after the server\n";

    ASSERT_EQ(::kill(session->pid(), SIGINT), 0);
    const auto ended = Cli::ended(*session);
    EXPECT_EQ(ended.exitCode, 0) << describe(ended);
}

TEST(CliSession, ChatTextsReachTheHostAndAnswersArePrinted)
{
    HostingSetup setup(TAVORO_RENDEZVOUS_BIN, TAVORO_HOST_BIN, 320, 240);
    ASSERT_TRUE(setup.ready());
    Cli cli(setup);
    auto chat = cli.start({"chat", setup.hostId, "--password", setup.password, "--send", " 你好 😀\u3000", "--send",
        "a\x1b[2Jb", "--send", " \n ", "--listen", "20"});

    const auto greeting = setup.host->waitForStdout(": 你好 😀");
    ASSERT_FALSE(greeting.empty()) << describe(Cli::ended(*chat, 0ms));
    const std::string cliId = greeting.substr(0, greeting.find(':'));
    EXPECT_FALSE(setup.host->waitForStdout(cliId + ": a[2Jb").empty()) << "control characters are not printed";

    // The host prints but does not type: a bare installation answers.
    auto peer = WssTestClient::connect(setup.clients, static_cast<std::uint16_t>(setup.server.wss));
    ASSERT_TRUE(peer && peer->hello("555555555"));
    peer->sendJson({{"type", "push_msg"}, {"seq", 1}, {"to", cliId}, {"call_id", ""}, {"text", "回复 🎉\a"},
        {"display", "banner"}, {"require_ack", false}});
    EXPECT_FALSE(chat->waitForStdout("555555555: 回复 🎉").empty()) << describe(Cli::ended(*chat, 0ms));

    ASSERT_EQ(::kill(chat->pid(), SIGINT), 0);
    const auto ended = Cli::ended(*chat);
    EXPECT_EQ(ended.exitCode, 0) << describe(ended);
    const auto hostLines = setup.host->stdoutLines();
    EXPECT_EQ(std::count_if(hostLines.begin(), hostLines.end(),
                  [&](const std::string& line) { return line.starts_with(cliId + ":"); }),
        2)
        << "a text of white space only is not sent";

    const auto once = cli.run({"chat", setup.hostId, "--password", setup.password, "--send", "再见"});
    EXPECT_EQ(once.exitCode, 0) << "without --listen the run ends after sending: " << describe(once);
    EXPECT_FALSE(setup.host->waitForStdout(cliId + ": 再见").empty());
}

TEST(CliSession, TheScreenshotAfterSwitchingMonitorsShowsTheSecondOne)
{
    HostingSetup setup(TAVORO_RENDEZVOUS_BIN, TAVORO_HOST_BIN, 1440, 450);
    ASSERT_TRUE(setup.ready());
    ASSERT_TRUE(setup.screen.splitIntoTwoMonitors(800, 450, 640, 360));
    XClient x(setup.screen.display());
    x.window({0, 0, 800, 450}, 0x303030);
    x.window({800, 0, 640, 450}, 0xC08020);
    x.sync();

    Cli cli(setup);
    const auto input = cli.script({R"({"kind":"set_monitor","index":1})"});
    const auto run = cli.run({"connect", setup.hostId, "--password", setup.password, "--seconds", "2.5",
        "--screenshot", cli.file("second.png"), "--screenshot-after", "1.5", "--input", input});
    ASSERT_EQ(run.exitCode, 0) << describe(run);
    expectPicture(cli.file("second.png"), 640, 360, 0xC08020);
}

} // namespace
} // namespace tavoro::test
