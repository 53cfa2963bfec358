#include "diagnostics/capture_diagnostic.h"

#include "diagnostics/capture_recorder.h"
#include "host/screen_capturer.h"
#include "platform/ffmpeg/x264_encoder.h"
#include "platform/linux/x11_capture_source.h"

#include <fstream>
#include <iomanip>
#include <ostream>

namespace tavoro::diagnostics {

namespace {

Result<> checkOptions(const CaptureOptions& options)
{
    if (options.frames < 1) {
        return Failure{"--frames must be at least 1"};
    }
    if (options.fps < 1 || options.fps > 240) {
        return Failure{"--fps must lie between 1 and 240"};
    }
    if (options.bitrateKbps < 100 || options.bitrateKbps > 100000) {
        return Failure{"--bitrate must lie between 100 and 100000 kbit/s"};
    }
    if (!(options.seconds > 0)) {
        return Failure{"--seconds must be positive"};
    }
    if (options.out.empty()) {
        return Failure{"--out is required"};
    }
    return {};
}

// What the capturer said about the display it captures.
struct DisplayReport {
    std::mutex mutex; // guards the fields below
    int count = 0;
    int index = 0;
    platform::DisplayRect bounds;
};

void printStage(std::ostream& out, const char* name, const StageTimings& timings)
{
    out << "  " << std::left << std::setw(16) << name << std::right << std::fixed << std::setprecision(2)
        << "median " << timings.median() << " ms, p95 " << timings.p95() << " ms\n";
}

void printSummary(std::ostream& out, const CaptureOptions& options, DisplayReport& display,
    const RecordingSummary& summary, double seconds)
{
    {
        std::lock_guard lock(display.mutex);
        out << "display " << display.index << " of " << display.count << ": " << display.bounds.width << "x"
            << display.bounds.height << " at +" << display.bounds.x << "+" << display.bounds.y << "\n";
    }
    out << "encoded " << summary.frames << " frames (" << summary.keyframes << " keyframes) at " << summary.width
        << "x" << summary.height << ", " << summary.bytes << " bytes in " << std::fixed << std::setprecision(1)
        << seconds << " s";
    if (seconds > 0) {
        out << " (" << std::setprecision(0) << static_cast<double>(summary.bytes) * 8 / 1000 / seconds << " kbit/s)";
    }
    out << " -> " << options.out << "\n";
    printStage(out, "capture", summary.grab);
    printStage(out, "scale+convert", summary.scaleAndConvert);
    printStage(out, "encode", summary.encode);
}

} // namespace

int runCaptureDiagnostic(const CaptureOptions& options, std::ostream& out, std::ostream& err)
{
    if (const auto checked = checkOptions(options); !checked) {
        err << "tavoro-host capture: " << checked.error() << "\n";
        return 2;
    }
    std::ofstream file(options.out, std::ios::binary | std::ios::trunc);
    if (!file) {
        err << "tavoro-host capture: cannot write " << options.out << "\n";
        return 1;
    }
    platform::X11CaptureSource source({options.display});
    platform::X264EncoderFactory encoders;
    CaptureRecorder recorder(encoders, options.fps, options.bitrateKbps, file, options.frames);
    DisplayReport display;
    host::ScreenCapturer capturer(source, options.fps);
    capturer.onFrame = [&](const platform::PixelBufferRef& picture, int width, int height) {
        recorder.onFrame(picture, width, height);
    };
    capturer.onError = [&](const std::string& message) { recorder.fail("Tavoro capture: " + message); };
    capturer.onDisplays = [&](int count, int index) {
        std::lock_guard lock(display.mutex);
        display.count = count;
        display.index = index;
    };
    capturer.onDisplayBounds = [&](const platform::DisplayRect& bounds) {
        std::lock_guard lock(display.mutex);
        display.bounds = bounds;
    };

    const auto started = std::chrono::steady_clock::now();
    capturer.start();
    if (options.monitor != 0) {
        capturer.switchDisplay(options.monitor);
    }
    recorder.accept();
    capturer.refresh();
    recorder.waitUntilDone(started + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                         std::chrono::duration<double>(options.seconds)));
    capturer.stop();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    const auto summary = recorder.summary();
    if (!summary) {
        err << "tavoro-host capture: " << summary.error() << "\n";
        return 1;
    }
    printSummary(out, options, display, *summary, seconds);
    if (summary->frames == 0) {
        err << "tavoro-host capture: no frame was captured\n";
        return 1;
    }
    return 0;
}

} // namespace tavoro::diagnostics
