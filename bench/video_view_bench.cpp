// The remote screen's picture in the desktop application: real x264 access units of a moving
// 1920 × 1080 picture decoded, converted and painted into a 1280 × 720 view.
//  1. Per picture, on the GUI thread: decode, then convert and paint (a synchronous repaint); p50/p95.
//  2. Thirty pictures a second for ten seconds, decoded on a thread of their own as in a session: the
//     pictures displayed per second and the GUI thread's CPU use.
// Runs on the display in DISPLAY, else on the offscreen platform.
#include "platform/ffmpeg/ffmpeg_h264_decoder.h"
#include "platform/qt/video_surface.h"
#include "support/encoded_stream.h"

#include <QApplication>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <time.h>
#include <vector>

namespace {

using namespace tavoro;
using Clock = std::chrono::steady_clock;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kUnits = 300;
constexpr int kFps = 30;

double percentile(std::vector<double> values, double fraction)
{
    std::ranges::sort(values);
    return values[static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1))];
}

double msSince(Clock::time_point start) { return std::chrono::duration<double, std::milli>(Clock::now() - start).count(); }

double threadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

void report(const char* what, const std::vector<double>& ms)
{
    std::printf("%-34s p50 %6.2f ms   p95 %6.2f ms   max %6.2f ms\n", what, percentile(ms, 0.5), percentile(ms, 0.95),
        percentile(ms, 1.0));
}

// Stage 1: everything on the GUI thread, one picture at a time.
void timePerPicture(const std::vector<test::AccessUnit>& stream, platform::qt::VideoSurface& surface)
{
    platform::FfmpegH264DecoderFactory factory;
    auto decoder = factory.create();
    std::vector<double> decodeMs;
    std::vector<double> paintMs;
    std::vector<double> totalMs;
    for (const auto& unit : stream) {
        const auto start = Clock::now();
        decoder->decode(unit, [&](const platform::DecodedPicture& picture) { surface.sink()->present(picture); });
        const double decoded = msSince(start);
        const auto paintStart = Clock::now();
        surface.repaint();
        paintMs.push_back(msSince(paintStart));
        decodeMs.push_back(decoded);
        totalMs.push_back(msSince(start));
        QCoreApplication::processEvents();
    }
    report("decode", decodeMs);
    report("convert and paint (GUI thread)", paintMs);
    report("decode, convert and paint", totalMs);
}

// Counts the surface's paints.
class PaintCounter final : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            ++paints;
        }
        return QObject::eventFilter(watched, event);
    }
};

// Stage 2: a decoder thread presenting thirty pictures a second while the GUI thread paints.
void displayAtThirtyFps(const std::vector<test::AccessUnit>& stream, platform::qt::VideoSurface& surface)
{
    PaintCounter counter;
    surface.installEventFilter(&counter);
    auto sink = surface.sink();
    std::thread decoding([&stream, sink] {
        platform::FfmpegH264DecoderFactory factory;
        auto decoder = factory.create();
        auto due = Clock::now();
        for (const auto& unit : stream) {
            std::this_thread::sleep_until(due);
            decoder->decode(unit, [&](const platform::DecodedPicture& picture) { sink->present(picture); });
            due += std::chrono::microseconds(1'000'000 / kFps);
        }
    });
    const double cpuStart = threadCpuSeconds();
    const auto wallStart = Clock::now();
    QTimer::singleShot(std::chrono::milliseconds(1000 * kUnits / kFps + 100), [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    decoding.join();
    const double wall = msSince(wallStart) / 1000.0;
    const double cpu = threadCpuSeconds() - cpuStart;
    std::printf("%d pictures presented at %d a second: %d painted (%.1f a second), GUI thread %.1f %% of a core\n",
        kUnits, kFps, counter.paints, counter.paints / wall, 100.0 * cpu / wall);
    surface.removeEventFilter(&counter);
}

} // namespace

int main(int argc, char** argv)
{
    if (std::getenv("DISPLAY") == nullptr) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    const auto stream = test::encodeMovingStream(kWidth, kHeight, kUnits);
    std::printf("%zu access units of %d×%d shown at 1280×720 on the \"%s\" platform\n", stream.size(), kWidth,
        kHeight, qPrintable(QGuiApplication::platformName()));
    platform::qt::VideoSurface surface;
    surface.resize(1280, 720);
    surface.show();
    QCoreApplication::processEvents();
    timePerPicture(stream, surface);
    displayAtThirtyFps(stream, surface);
    return 0;
}
