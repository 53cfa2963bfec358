// tavoro-host's media diagnostics as a user runs them, on a private Xvfb.
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/x_client.h"
#include "support/xvfb.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>

namespace tavoro {
namespace {

using test::ChildProcess;

ChildProcess runHost(const test::Xvfb& server, std::vector<std::string> args)
{
    return ChildProcess(TAVORO_HOST_BIN, args, {"DISPLAY=" + server.display()});
}

// What ffprobe says of a raw H.264 file: "profile=Main\nwidth=640\nheight=360\nnb_read_frames=45\n".
std::string probe(const std::filesystem::path& file)
{
    const std::string command = "ffprobe -v error -f h264 -select_streams v:0 -count_frames "
                                "-show_entries stream=profile,width,height,nb_read_frames -of default=noprint_wrappers=1 '" +
        file.string() + "' 2>&1";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    std::string output;
    char buffer[256];
    while (pipe && std::fgets(buffer, sizeof buffer, pipe.get())) {
        output += buffer;
    }
    return output;
}

bool anyLineContains(const std::vector<std::string>& lines, const std::string& fragment)
{
    return std::any_of(lines.begin(), lines.end(), [&](const auto& line) { return line.find(fragment) != std::string::npos; });
}

// Repaints part of the screen in a new colour every few milliseconds until destroyed.
class ChangingScreen {
public:
    explicit ChangingScreen(const std::string& display)
        : thread_([this, display] {
              test::XClient client(display);
              const auto window = client.window({0, 0, 400, 300}, 0);
              for (std::uint32_t n = 0; !stop_; ++n) {
                  client.fill(window, {0, 0, 400, 300}, (n * 0x10305) & 0xFFFFFF);
                  std::this_thread::sleep_for(std::chrono::milliseconds(5));
              }
          })
    {
    }
    ~ChangingScreen()
    {
        stop_ = true;
        thread_.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST(MediaCommands, CaptureRecordsAFileThatPlaysAsMainProfile)
{
    test::Xvfb server(1280, 720);
    ASSERT_TRUE(server.running());
    test::TempDir dir;
    const auto file = dir.path() / "screen.h264";
    ChangingScreen changing(server.display());
    auto host = runHost(server, {"capture", "--frames", "20", "--out", file.string(), "--fps", "60"});
    ASSERT_EQ(host.waitExit(std::chrono::seconds(30)), 0);
    const auto lines = host.stdoutLines();
    EXPECT_TRUE(anyLineContains(lines, "encoded 20 frames")) << ::testing::PrintToString(lines);
    EXPECT_TRUE(anyLineContains(lines, "capture ")) << "per-stage timings";
    EXPECT_TRUE(anyLineContains(lines, "scale+convert "));
    EXPECT_TRUE(anyLineContains(lines, "encode "));
    EXPECT_EQ(probe(file), "profile=Main\nwidth=1280\nheight=720\nnb_read_frames=20\n");
}

TEST(MediaCommands, AStillScreenEncodesOnlyItsFirstPicture)
{
    test::Xvfb server(640, 480);
    ASSERT_TRUE(server.running());
    test::TempDir dir;
    const auto file = dir.path() / "still.h264";
    auto host = runHost(server, {"capture", "--frames", "5", "--out", file.string(), "--seconds", "1"});
    ASSERT_EQ(host.waitExit(), 0);
    EXPECT_TRUE(anyLineContains(host.stdoutLines(), "encoded 1 frames (1 keyframes) at 640x480"))
        << ::testing::PrintToString(host.stdoutLines());
}

TEST(MediaCommands, CaptureOfTheSecondMonitorAndBadOptions)
{
    test::Xvfb server(3840, 1080);
    ASSERT_TRUE(server.running());
    ASSERT_TRUE(server.splitIntoTwoMonitors());
    test::TempDir dir;
    const auto file = dir.path() / "right.h264";
    auto host = runHost(server, {"capture", "--frames", "1", "--out", file.string(), "--monitor", "-1"});
    ASSERT_EQ(host.waitExit(), 0);
    EXPECT_TRUE(anyLineContains(host.stdoutLines(), "display 1 of 2: 1920x1080 at +1920+0"))
        << ::testing::PrintToString(host.stdoutLines());

    auto badFps = runHost(server, {"capture", "--frames", "1", "--out", file.string(), "--fps", "0"});
    EXPECT_EQ(badFps.waitExit(), 2);
    auto noFile = runHost(server, {"capture", "--frames", "1", "--out", (dir.path() / "no" / "such").string()});
    EXPECT_EQ(noFile.waitExit(), 1);
}

TEST(MediaCommands, InjectReplaysMessagesOnTheDisplay)
{
    test::Xvfb server(3840, 1080);
    ASSERT_TRUE(server.running());
    ASSERT_TRUE(server.splitIntoTwoMonitors());
    test::XClient client(server.display());
    client.window({0, 0, 3840, 1080}, 0, XCB_EVENT_MASK_BUTTON_PRESS);

    auto host = runHost(server, {"inject", R"({"kind":"set_monitor","index":1})",
                                    R"({"kind":"mouse_move","x":0.5,"y":0.25})", R"({"kind":"mouse_btn","down":true})",
                                    R"({"kind":"mouse_btn","down":false})"});
    ASSERT_EQ(host.waitExit(), 0);
    auto press = client.waitForEvent(XCB_BUTTON_PRESS);
    ASSERT_TRUE(press);
    const auto& event = *reinterpret_cast<const xcb_button_press_event_t*>(press.get());
    EXPECT_EQ(event.root_x, 2880);
    EXPECT_EQ(event.root_y, 270);
    EXPECT_EQ(client.pointer(), std::make_pair(2880, 270));

    auto bad = runHost(server, {"inject", R"({"kind":"mouse_move","x":0,"y":0})", "[1,2]"});
    EXPECT_EQ(bad.waitExit(), 2);
    EXPECT_TRUE(anyLineContains(bad.stderrLines(), "argument 2 is not a JSON object"));
    EXPECT_EQ(client.pointer(), std::make_pair(2880, 270)) << "nothing is injected when an argument is bad";
}

} // namespace
} // namespace tavoro
