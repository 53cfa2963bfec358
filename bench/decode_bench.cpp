// The controller's decoding cost per access unit at 1920 × 1080: real x264 units of a moving picture
// through VideoDecoder (copy, split, decode, hand to the display), and through the platform decoder
// alone for comparison. Prints the median and 95th percentile in milliseconds.
#include "control/video_decoder.h"
#include "platform/fake/manual_serial_queue.h"
#include "platform/ffmpeg/ffmpeg_h264_decoder.h"
#include "support/encoded_stream.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

using namespace tavoro;

constexpr int width = 1920;
constexpr int height = 1080;
constexpr int units = 300; // ten seconds at 30 pictures a second, keyframes every two seconds

class CountingSink final : public platform::DisplaySink {
public:
    void present(const platform::DecodedPicture&) override { ++shown; }
    void flush() override {}
    void clear() override {}
    int shown = 0;
};

double percentile(std::vector<double> values, double fraction)
{
    std::ranges::sort(values);
    return values[static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1))];
}

std::vector<double> timeEach(const std::vector<test::AccessUnit>& stream,
    const std::function<void(const test::AccessUnit&)>& step)
{
    std::vector<double> ms;
    for (const auto& unit : stream) {
        const auto start = std::chrono::steady_clock::now();
        step(unit);
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    return ms;
}

void report(const char* what, const std::vector<double>& ms)
{
    std::printf("%-28s p50 %6.2f ms   p95 %6.2f ms   max %6.2f ms\n", what, percentile(ms, 0.5), percentile(ms, 0.95),
        percentile(ms, 1.0));
}

} // namespace

int main()
{
    const auto stream = test::encodeMovingStream(width, height, units);
    std::size_t bytes = 0;
    for (const auto& unit : stream) {
        bytes += unit.size();
    }
    std::printf("%zu access units of %d×%d, %zu kB on average\n", stream.size(), width, height,
        bytes / std::max<std::size_t>(stream.size(), 1) / 1000);

    platform::FfmpegH264DecoderFactory factory;
    auto queue = std::make_shared<platform::fake::ManualSerialQueue>();
    auto sink = std::make_shared<CountingSink>();
    auto decoder = control::VideoDecoder::create(factory, queue);
    decoder->attach(sink);
    queue->drain();
    report("VideoDecoder", timeEach(stream, [&](const test::AccessUnit& unit) {
        decoder->decode(unit, width, height);
        queue->drain();
    }));

    auto platformDecoder = factory.create();
    report("platform decoder alone", timeEach(stream, [&](const test::AccessUnit& unit) {
        platformDecoder->decode(unit, [](const platform::DecodedPicture&) {});
    }));
    std::printf("pictures shown: %d of %zu\n", sink->shown, stream.size());
    return sink->shown == static_cast<int>(stream.size()) ? 0 : 1;
}
