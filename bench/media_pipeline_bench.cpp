// Per-stage cost of the host's media pipeline on a private Xvfb, and the CPU use of
// `tavoro-host capture` on a still and on a scrolling screen. Prints a table of figures.
//   build/bench/media_pipeline_bench [frames per measurement, default 120]
#include "process_cpu.h"
#include "scrolling_screen.h"

#include "diagnostics/stage_timings.h"
#include "host/video_encoder.h"
#include "platform/ffmpeg/x264_encoder.h"
#include "platform/linux/frame_scaler.h"
#include "platform/linux/screen_grabber.h"
#include "support/temp_dir.h"
#include "support/xvfb.h"

#include <libyuv.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace tavoro;
using Clock = std::chrono::steady_clock;
using diagnostics::StageTimings;

double millisSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

using bench::desktopPicture;
using bench::ScrollingScreen;

void printRow(const char* stage, int width, int height, const StageTimings& timings)
{
    std::printf("  %-34s %4dx%-4d  median %6.2f ms   p95 %6.2f ms\n", stage, width, height, timings.median(),
        timings.p95());
}

void measureStages(int width, int height, int frames)
{
    test::Xvfb server(width, height);
    if (!server.running()) {
        std::printf("  Xvfb did not start\n");
        return;
    }
    ScrollingScreen screen(server.display(), width, height);
    auto connection = platform::X11Connection::open(server.display()).value();
    const platform::DisplayRect area{0, 0, width, height};
    auto shm = platform::makeScreenGrabber(*connection, area, platform::GrabMethod::sharedMemory).value();
    auto getImage = platform::makeScreenGrabber(*connection, area, platform::GrabMethod::getImage).value();
    platform::X264EncoderFactory factory;
    auto encoder = host::VideoEncoder::create(factory, width, height, 30, 8000);
    std::uint64_t bytes = 0;
    encoder->onEncoded = [&](std::vector<std::uint8_t> unit, bool) { bytes += unit.size(); };
    platform::PixelBuffer picture(width, height);

    StageTimings grabShm, grabGetImage, copy, convert, encode;
    for (int i = 0; i < frames; ++i) {
        screen.step();
        auto start = Clock::now();
        getImage->grab();
        grabGetImage.add(millisSince(start));
        start = Clock::now();
        const auto image = shm->grab();
        grabShm.add(millisSince(start));
        start = Clock::now();
        platform::scaleInto(*image, picture);
        copy.add(millisSince(start));
        encoder->encode(picture);
        convert.add(encoder->lastTimings().convertMs);
        encode.add(encoder->lastTimings().encodeMs);
    }
    printRow("capture (MIT-SHM)", width, height, grabShm);
    printRow("capture (GetImage fallback)", width, height, grabGetImage);
    printRow("copy to output (1:1)", width, height, copy);
    printRow("BGRX to I420 (libyuv)", width, height, convert);
    printRow("encode (x264 ultrafast+CABAC)", width, height, encode);
    std::printf("  %-34s %4dx%-4d  %.0f kbit/s at 30 fps (target 8000)\n", "encoded rate", width, height,
        static_cast<double>(bytes) * 8 / 1000 / frames * 30);
}

void measureScaling(int frames)
{
    struct Case {
        int sw, sh, dw, dh;
    };
    for (const auto c : {Case{3840, 2160, 2560, 1440}, Case{2880, 1800, 2304, 1440}}) {
        auto source = desktopPicture(c.sw, c.sh);
        platform::PixelBuffer output(c.dw, c.dh);
        const platform::ImageView view{source.data(), c.sw * 4, c.sw, c.sh};
        StageTimings scale;
        for (int i = 0; i < frames; ++i) {
            const auto start = Clock::now();
            platform::scaleInto(view, output);
            scale.add(millisSince(start));
        }
        char name[64];
        std::snprintf(name, sizeof name, "scale %dx%d to", c.sw, c.sh);
        printRow(name, c.dw, c.dh, scale);
    }
}

void comparePresets(int width, int height, int frames)
{
    auto source = desktopPicture(width, 2 * height);
    for (const char* preset : {"ultrafast", "superfast", "veryfast"}) {
        platform::X264EncoderFactory factory(preset);
        auto encoder = host::VideoEncoder::create(factory, width, height, 30, 8000);
        std::uint64_t bytes = 0;
        encoder->onEncoded = [&](std::vector<std::uint8_t> unit, bool) { bytes += unit.size(); };
        StageTimings encode;
        platform::PixelBuffer picture(width, height);
        for (int i = 0; i < frames; ++i) {
            const int offset = (i * 6) % height;
            std::copy_n(&source[static_cast<std::size_t>(offset) * width * 4], static_cast<std::size_t>(width) * height * 4,
                picture.data());
            encoder->encode(picture);
            encode.add(encoder->lastTimings().encodeMs);
        }
        char name[64];
        std::snprintf(name, sizeof name, "encode, preset %s", preset);
        printRow(name, width, height, encode);
    }
}

struct CpuUse {
    double seconds = 0;
    double cpuSeconds = 0;
    double steadyPercent = 0; // from 2 s after the start to 1 s before the end: start-up left out
    std::string lastLine;
};

using bench::processCpuSeconds;

// Runs `tavoro-host capture` for a fixed time and measures the CPU time it used.
CpuUse runCapture(const test::Xvfb& server, double seconds, const std::string& out)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        return {};
    }
    const auto started = Clock::now();
    double steady = 0;
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(pipeFds[1], STDOUT_FILENO);
        ::close(pipeFds[0]);
        ::setenv("DISPLAY", server.display().c_str(), 1);
        const std::string duration = std::to_string(seconds);
        ::execl(TAVORO_HOST_BIN, "tavoro-host", "capture", "--frames", "1000000", "--out", out.c_str(), "--seconds",
            duration.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    std::thread sampler([&] {
        std::this_thread::sleep_for(std::chrono::seconds(2));
        const double before = processCpuSeconds(child);
        const auto window = std::chrono::duration<double>(seconds - 3);
        std::this_thread::sleep_for(window);
        steady = 100 * (processCpuSeconds(child) - before) / window.count();
    });
    std::string output;
    char buffer[512];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) {
        output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipeFds[0]);
    int status = 0;
    rusage usage{};
    sampler.join();
    ::wait4(child, &status, 0, &usage);
    CpuUse result;
    result.steadyPercent = steady;
    result.seconds = std::chrono::duration<double>(Clock::now() - started).count();
    result.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
        static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    const auto encoded = output.find("encoded");
    result.lastLine = encoded == std::string::npos ? output : output.substr(encoded, output.find(" -> ", encoded) - encoded);
    return result;
}

void measureCpu(int width, int height, double seconds)
{
    test::Xvfb server(width, height);
    test::TempDir dir;
    const auto out = (dir.path() / "cpu.h264").string();
    {
        ScrollingScreen screen(server.display(), width, height);
        const auto still = runCapture(server, seconds, out);
        std::printf("  still screen     %4dx%-4d  CPU %5.1f %% of one core over %.1f s (%.2f %% once started); %s\n",
            width, height, 100 * still.cpuSeconds / still.seconds, still.seconds, still.steadyPercent,
            still.lastLine.c_str());
    }
    std::atomic<bool> stop{false};
    std::thread scroller([&] {
        ScrollingScreen screen(server.display(), width, height);
        while (!stop) {
            screen.step();
            std::this_thread::sleep_for(std::chrono::milliseconds(15));
        }
    });
    const auto moving = runCapture(server, seconds, out);
    stop = true;
    scroller.join();
    std::printf("  scrolling screen %4dx%-4d  CPU %5.1f %% of one core over %.1f s (%.2f %% once started); %s\n",
        width, height, 100 * moving.cpuSeconds / moving.seconds, moving.seconds, moving.steadyPercent,
        moving.lastLine.c_str());
}

} // namespace

int main(int argc, char** argv)
{
    const int frames = argc > 1 ? std::max(10, std::atoi(argv[1])) : 120;
    std::printf("Per-stage time per frame (%d frames of a scrolling desktop-like screen, one process):\n", frames);
    measureStages(1920, 1080, frames);
    measureStages(2560, 1440, frames);
    measureScaling(frames);
    std::printf("x264 presets (all Main profile, 8000 kbit/s):\n");
    comparePresets(1920, 1080, frames);
    std::printf("tavoro-host capture at 30 fps (CPU time of the program itself; Xvfb not counted):\n");
    measureCpu(1920, 1080, 10);
    measureCpu(2560, 1440, 10);
    return 0;
}
