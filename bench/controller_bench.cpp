// The controller's side measured end to end on this machine: a private Xvfb, a real tavoro-rendezvous
// and tavoro-host on loopback, and a real controller (RemoteController and ControlSession) in this
// process, or the tavoro-cli program. Prints each figure with its target.
//   build/bench/controller_bench [figure ...]
//   figures: latency first_picture cli_cpu record (all of them when none is named)
// The figures go to stdout; stderr carries the controllers' log.
#include "bench_controller.h"
#include "frame_counter.h"
#include "process_cpu.h"
#include "scrolling_screen.h"

#include "control/parameter_sets.h"
#include "core/log.h"
#include "support/hosting_fixture.h"
#include "support/wait.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace tavoro;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using bench::BenchController;
using bench::printLoad;
using test::HostingSetup;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

double millis(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }
double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The nearest-rank percentile; 0 without values.
double percentile(std::vector<double> values, int p)
{
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const std::size_t rank = (values.size() * static_cast<std::size_t>(p) + 99) / 100;
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

const char* verdict(bool met) { return met ? "met" : "MISSED"; }

std::unique_ptr<HostingSetup> startHost()
{
    auto setup = std::make_unique<HostingSetup>(TAVORO_RENDEZVOUS_BIN, TAVORO_HOST_BIN, kWidth, kHeight);
    if (!setup->ready()) {
        std::printf("  the host did not come online on a %dx%d Xvfb\n", kWidth, kHeight);
        return nullptr;
    }
    return setup;
}

// Pictures of an H.264 stream: slices that start a picture (first_mb_in_slice 0, a single 1 bit in
// the slice header's first byte).
int countPictures(std::span<const std::uint8_t> stream)
{
    int pictures = 0;
    for (const auto unit : protocol::splitAnnexB(stream)) {
        const int type = protocol::nalType(unit);
        if ((type == 1 || type == 5) && unit.size() > 1 && (unit[1] & 0x80) != 0) {
            ++pictures;
        }
    }
    return pictures;
}

int countPicturesInFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    return countPictures(bytes);
}

// A display sink that only tells when the first picture arrived.
class FirstPictureSink final : public platform::DisplaySink {
public:
    void present(const platform::DecodedPicture&) override
    {
        std::lock_guard lock(mutex_);
        if (!first_) {
            first_ = Clock::now();
        }
    }
    void flush() override {}
    void clear() override {}
    std::optional<Clock::time_point> first() const
    {
        std::lock_guard lock(mutex_);
        return first_;
    }

private:
    mutable std::mutex mutex_; // guards first_
    std::optional<Clock::time_point> first_;
};

// Subscribes to the controller's outgoing session and attaches the sink to it when it starts; the
// session and when it appeared are kept. Main thread.
struct SessionWatch {
    SessionWatch(app::RemoteController& controller, std::shared_ptr<platform::DisplaySink> sink,
        std::function<void(control::ControlSession&)> started = {})
        : subscription(controller.control.subscribe([this, sink, started](const std::shared_ptr<control::ControlSession>& s) {
              if (s && !session) {
                  session = s;
                  at = Clock::now();
                  s->video().attach(sink);
                  if (started) {
                      started(*s);
                  }
              }
          }))
    {
    }
    std::shared_ptr<control::ControlSession> session;
    Clock::time_point at;
    core::Observable<std::shared_ptr<control::ControlSession>>::Subscription subscription;
};

// A controller that is online and has been accepted by the host; nothing when either failed.
bool callHost(BenchController& bench, HostingSetup& setup, SessionWatch& watch)
{
    if (!bench.error().empty() || !bench.runUntil([&] { return bench.controller().online.get(); }, 10s)) {
        std::printf("  the controller did not come online %s\n", bench.error().c_str());
        return false;
    }
    bench.controller().connectToPeer(setup.hostId, setup.password, "control");
    if (!bench.runUntil([&] { return watch.session != nullptr; }, 10s)) {
        std::printf("  the host did not accept the call\n");
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------------
// 1. Glass-to-glass latency.

// One counter value's way: painted on the host's screen, its unit's times on the controller (see
// timed_media.h), shown at the sink.
struct Sighting {
    Clock::time_point painted;
    bench::DecodeStamp stamp;
    Clock::time_point seen;
};

// Reads the counter from each picture and keeps the first sighting of every value.
class LatencySink final : public platform::DisplaySink {
public:
    explicit LatencySink(const bench::CounterPainter& painter) : painter_(painter) {}

    void present(const platform::DecodedPicture& picture) override
    {
        const auto now = Clock::now();
        const auto shown = bench::readCounter(picture);
        if (!shown) {
            std::lock_guard lock(mutex_);
            ++unreadable_;
            return;
        }
        if (shown == last_) {
            return;
        }
        last_ = shown;
        const std::uint32_t latest = painter_.painted();
        const std::uint32_t value = latest - ((latest - *shown) & bench::kCounterMask);
        const auto painted = painter_.paintedAt(value);
        if (!painted || !bench::CurrentStamp::decode || !bench::CurrentStamp::decode->frame) {
            return;
        }
        std::lock_guard lock(mutex_);
        if (recording_) {
            sightings_.push_back({*painted, *bench::CurrentStamp::decode, now});
        }
    }
    void flush() override {}
    void clear() override {}

    void startRecording()
    {
        std::lock_guard lock(mutex_);
        recording_ = true;
        sightings_.clear();
        unreadable_ = 0;
    }
    std::vector<Sighting> sightings() const
    {
        std::lock_guard lock(mutex_);
        return sightings_;
    }
    int unreadable() const
    {
        std::lock_guard lock(mutex_);
        return unreadable_;
    }

private:
    const bench::CounterPainter& painter_;
    std::optional<std::uint32_t> last_; // decode thread only
    mutable std::mutex mutex_;          // guards the fields below
    bool recording_ = false;
    std::vector<Sighting> sightings_;
    int unreadable_ = 0;
};

void printSpan(const char* stage, const std::vector<double>& ms)
{
    std::printf("    %-46s min %6.2f   p50 %6.2f   p95 %6.2f   max %6.2f ms\n", stage,
        ms.empty() ? 0 : *std::min_element(ms.begin(), ms.end()), percentile(ms, 50), percentile(ms, 95),
        percentile(ms, 100));
}

// `tavoro-host capture` on the same screen, while the counter is painted: the host's stage costs
// (grab, scale + convert, encode) as the capture diagnostic measures them per frame.
void hostStages(const HostingSetup& setup)
{
    const test::TempDir dir;
    test::ChildProcess capture(TAVORO_HOST_BIN,
        {"capture", "--frames", "1000000", "--out", (dir.path() / "stages.h264").string(), "--seconds", "8"},
        {"DISPLAY=" + setup.screen.display()});
    capture.waitExit(20s);
    std::printf("  host stages from `tavoro-host capture` on the same screen (8 s, no session running):\n");
    for (const auto& line : capture.stdoutLines()) {
        std::printf("    %s\n", line.c_str());
    }
}

void printLatency(const std::vector<Sighting>& sightings, int unreadable, int painted, double targetP50,
    double targetP95)
{
    std::vector<double> total, hostAndNetwork, frameWait, handOver, decodeWait, decode, toSink;
    std::vector<double> keyTotal, afterKeyTotal, deltaTotal, keyDecode, deltaDecode;
    bool afterKey = false;
    for (const auto& s : sightings) {
        total.push_back(millis(s.seen - s.painted));
        const double decodeMs = millis(s.stamp.decodeEnd - s.stamp.decodeStart);
        (s.stamp.keyframe ? keyTotal : afterKey ? afterKeyTotal : deltaTotal).push_back(total.back());
        (s.stamp.keyframe ? keyDecode : deltaDecode).push_back(decodeMs);
        afterKey = s.stamp.keyframe;
        hostAndNetwork.push_back(millis(s.stamp.frame->posted - s.painted));
        frameWait.push_back(millis(s.stamp.frame->ran - s.stamp.frame->posted));
        handOver.push_back(millis(s.stamp.posted - s.stamp.frame->ran));
        decodeWait.push_back(millis(s.stamp.decodeStart - s.stamp.posted));
        decode.push_back(millis(s.stamp.decodeEnd - s.stamp.decodeStart));
        toSink.push_back(millis(s.seen - s.stamp.decodeEnd));
    }
    std::printf("  %zu counter values seen of %d painted (%d pictures unreadable)\n", sightings.size(), painted,
        unreadable);
    printSpan("painted -> frame complete at the controller", hostAndNetwork);
    std::printf("      (capture tick wait, grab, scale, convert, encode, fan-out, UDP, reassembly: the host's\n"
                "       share is in its stage costs above; the rest is not visible from outside)\n");
    printSpan("frame queue wait", frameWait);
    printSpan("frame parse -> handed to the decoder", handOver);
    printSpan("decode queue wait", decodeWait);
    printSpan("decode (platform decoder)", decode);
    printSpan("decoded -> sink read the counter", toSink);
    printSpan("glass to glass", total);
    std::printf("  by picture kind (keyframes every 2 s):\n");
    printSpan("decode of keyframes", keyDecode);
    printSpan("decode of delta pictures", deltaDecode);
    printSpan("glass to glass, keyframes", keyTotal);
    printSpan("glass to glass, first value after a keyframe", afterKeyTotal);
    printSpan("glass to glass, other delta pictures", deltaTotal);
    std::printf("  glass to glass p50 %.1f ms (target <= %.0f ms: %s), p95 %.1f ms (target <= %.0f ms: %s)\n",
        percentile(total, 50), targetP50, verdict(percentile(total, 50) <= targetP50), percentile(total, 95), targetP95,
        verdict(percentile(total, 95) <= targetP95));
}

void latencyOn(bool moving)
{
    std::printf("\n[latency] glass to glass, %dx%d, counter painted at ~30 values/s, %s desktop, loopback\n", kWidth,
        kHeight, moving ? "scrolling (~60 redraws/s)" : "still");
    printLoad();
    auto setup = startHost();
    if (!setup) {
        return;
    }
    std::optional<bench::ScrollingScreen> still;
    std::optional<bench::ScreenMover> mover;
    if (moving) {
        mover.emplace(setup->screen.display(), kWidth, kHeight);
        test::waitFor([&] { return mover->steps() > 0; }, 5s);
    } else {
        still.emplace(setup->screen.display(), kWidth, kHeight);
    }
    bench::CounterPainter painter(setup->screen.display());
    std::this_thread::sleep_for(500ms);
    hostStages(*setup);

    BenchController bench(setup->server);
    auto sink = std::make_shared<LatencySink>(painter);
    SessionWatch watch(bench.controller(), sink);
    if (!callHost(bench, *setup, watch)) {
        return;
    }
    bench.runFor(3s); // the first keyframe, the UDP path and the bitrate settle
    sink->startRecording();
    const std::uint32_t paintedBefore = painter.painted();
    const double cpuBefore = bench::processCpuSeconds(::getpid());
    const double hostBefore = bench::processCpuSeconds(setup->host->pid());
    const auto start = Clock::now();
    bench.runUntil([&] { return sink->sightings().size() >= 300; }, 15s);
    const double window = seconds(Clock::now() - start);
    const int painted = static_cast<int>(painter.painted() - paintedBefore);
    std::printf("  media path: %s; host CPU %.1f %%, this process (controller + painter) %.1f %% of one core\n",
        watch.session->statusLine().c_str(),
        100 * (bench::processCpuSeconds(setup->host->pid()) - hostBefore) / window,
        100 * (bench::processCpuSeconds(::getpid()) - cpuBefore) / window);
    printLatency(sink->sightings(), sink->unreadable(), painted, 20, 35);
    printLoad();
}

void latency()
{
    latencyOn(false);
    latencyOn(true);
}

// ---------------------------------------------------------------------------------------------------
// 2. Call -> first decoded picture.

void firstPicture()
{
    std::printf("\n[first_picture] connectToPeer -> first picture at the display sink, %dx%d still desktop, loopback\n",
        kWidth, kHeight);
    printLoad();
    auto setup = startHost();
    if (!setup) {
        return;
    }
    bench::ScrollingScreen screen(setup->screen.display(), kWidth, kHeight);
    std::vector<double> accepted;
    std::vector<double> pictured;
    for (int i = 0; i < 6; ++i) {
        {
            BenchController bench(setup->server);
            auto sink = std::make_shared<FirstPictureSink>();
            SessionWatch watch(bench.controller(), sink);
            if (!bench.error().empty() || !bench.runUntil([&] { return bench.controller().online.get(); }, 10s)) {
                std::printf("  run %d: the controller did not come online\n", i + 1);
                return;
            }
            const auto called = Clock::now();
            bench.controller().connectToPeer(setup->hostId, setup->password, "control");
            if (!bench.runUntil([&] { return sink->first().has_value(); }, 5s)) {
                std::printf("  run %d: no picture within 5 s\n", i + 1);
                return;
            }
            accepted.push_back(millis(watch.at - called));
            pictured.push_back(millis(*sink->first() - called));
            std::printf("  run %d: accepted after %6.1f ms, first picture after %6.1f ms\n", i + 1, accepted.back(),
                pictured.back());
        }
        test::waitFor([&] { return setup->host->stderrCount("结束被控会话") >= static_cast<std::size_t>(i + 1); }, 5s);
    }
    std::printf("  call -> accepted: p50 %.1f ms, max %.1f ms\n", percentile(accepted, 50), percentile(accepted, 100));
    std::printf("  call -> first picture: p50 %.1f ms, max %.1f ms (target <= 500 ms: %s)\n", percentile(pictured, 50),
        percentile(pictured, 100), verdict(percentile(pictured, 100) <= 500));
    printLoad();
}

// ---------------------------------------------------------------------------------------------------
// 3. and 4. tavoro-cli receiving a moving screen, with and without recording.

struct CliRun {
    double cpuPercent = 0;
    std::vector<int> fpsPerSecond; // from the --stats lines
    int framesInFile = -1;
    std::string lastStats;
    int exitCode = -1;
};

CliRun runCli(HostingSetup& setup, const std::optional<std::string>& record)
{
    const test::TempDir config;
    std::vector<std::string> args{"--server", "127.0.0.1:" + std::to_string(setup.server.wss), "--server-cert-sha256",
        setup.server.fingerprint, "--stun", "127.0.0.1:" + std::to_string(setup.server.stun), "--config-dir",
        config.path().string(), "connect", setup.hostId, "--password", setup.password, "--seconds", "14", "--stats"};
    if (record) {
        args.insert(args.end(), {"--record", *record});
    }
    test::ChildProcess cli(TAVORO_CLI_BIN, args);
    CliRun run;
    if (cli.waitForStdout(" FPS ", 15s).empty()) {
        std::printf("  tavoro-cli showed no statistics\n");
        return run;
    }
    std::this_thread::sleep_for(2s);
    const double before = bench::processCpuSeconds(cli.pid());
    const auto start = Clock::now();
    std::this_thread::sleep_for(10s);
    run.cpuPercent = 100 * (bench::processCpuSeconds(cli.pid()) - before) / seconds(Clock::now() - start);
    run.exitCode = cli.waitExit(10s).value_or(-1);
    for (const auto& line : cli.stdoutLines()) {
        if (const auto at = line.find(" FPS "); at != std::string::npos) {
            const auto from = line.rfind(" · ", at);
            run.fpsPerSecond.push_back(std::atoi(line.c_str() + (from == std::string::npos ? 0 : from + 4)));
            run.lastStats = line;
        }
    }
    if (record) {
        run.framesInFile = countPicturesInFile(*record);
    }
    return run;
}

int sum(const std::vector<int>& values)
{
    int total = 0;
    for (const int v : values) {
        total += v;
    }
    return total;
}

void printCli(const char* label, const CliRun& run)
{
    std::printf("  %-18s tavoro-cli CPU %5.1f %% of one core (target <= 25 %%: %s) | %s | exit %d\n", label,
        run.cpuPercent, verdict(run.cpuPercent > 0 && run.cpuPercent <= 25), run.lastStats.c_str(), run.exitCode);
}

void cliCpu()
{
    std::printf("\n[cli_cpu] tavoro-cli receiving a %dx%d scrolling desktop (~60 redraws/s), CPU over 10 s\n", kWidth,
        kHeight);
    printLoad();
    auto setup = startHost();
    if (!setup) {
        return;
    }
    bench::ScreenMover mover(setup->screen.display(), kWidth, kHeight);
    printCli("without --record:", runCli(*setup, std::nullopt));
    printLoad();
}

// The in-process controller on the same moving screen for 10 s: frames received, decoded and (when
// recording) written. The screen stops before the counts are read, so that none is in flight.
struct CountedRun {
    std::uint64_t received = 0;
    std::uint64_t decoded = 0;
    int written = -1;
};

std::optional<CountedRun> countFrames(HostingSetup& setup, const std::optional<std::string>& record)
{
    auto mover = std::make_unique<bench::ScreenMover>(setup.screen.display(), kWidth, kHeight);
    BenchController bench(setup.server);
    SessionWatch watch(bench.controller(), std::make_shared<FirstPictureSink>(), [&](control::ControlSession& session) {
        if (record) {
            session.startRecordingAt(*record);
        }
    });
    if (!callHost(bench, setup, watch)) {
        return std::nullopt;
    }
    bench.runFor(10s);
    mover.reset();
    bench.runFor(1s);
    CountedRun run;
    run.received = watch.session->framesReceived();
    run.decoded = watch.session->video().decodedPictures();
    if (record) {
        watch.session->toggleRecording();
        run.written = countPicturesInFile(*record);
    }
    return run;
}

void record()
{
    std::printf("\n[record] recording and frame loss, %dx%d scrolling desktop\n", kWidth, kHeight);
    printLoad();
    auto setup = startHost();
    if (!setup) {
        return;
    }
    const test::TempDir dir;
    const std::string cliFile = (dir.path() / "cli.h264").string();
    {
        bench::ScreenMover mover(setup->screen.display(), kWidth, kHeight);
        const auto plain = runCli(*setup, std::nullopt);
        const auto recorded = runCli(*setup, cliFile);
        printCli("without --record:", plain);
        printCli("with --record:", recorded);
        std::printf("  tavoro-cli --record: %d frames received (sum of the per-second FPS, last partial second "
                    "missing), %d pictures in the file\n",
            sum(recorded.fpsPerSecond), recorded.framesInFile);
    }
    std::size_t sessions = setup->host->stderrCount("结束被控会话");
    const auto plain = countFrames(*setup, std::nullopt);
    test::waitFor([&] { return setup->host->stderrCount("结束被控会话") > sessions; }, 5s);
    sessions = setup->host->stderrCount("结束被控会话");
    const auto recorded = countFrames(*setup, (dir.path() / "in-process.h264").string());
    if (!plain || !recorded) {
        return;
    }
    std::printf("  in process, not recording: %llu frames received, %llu decoded\n",
        static_cast<unsigned long long>(plain->received), static_cast<unsigned long long>(plain->decoded));
    std::printf("  in process, recording:     %llu frames received, %llu decoded, %d written\n",
        static_cast<unsigned long long>(recorded->received), static_cast<unsigned long long>(recorded->decoded),
        recorded->written);
    const bool noLoss = recorded->received > 0 && recorded->written == static_cast<int>(recorded->received) &&
                        recorded->decoded + 1 >= recorded->received && plain->decoded + 1 >= plain->received;
    std::printf("  recording loses no frame (written = received, decoded = received with and without): %s\n",
        verdict(noLoss));
    printLoad();
}

} // namespace

int main(int argc, char** argv)
{
    const std::map<std::string, std::function<void()>> figures{
        {"latency", latency}, {"first_picture", firstPicture}, {"cli_cpu", cliCpu}, {"record", record}};
    std::vector<std::string> chosen(argv + 1, argv + argc);
    if (chosen.empty()) {
        chosen = {"latency", "first_picture", "cli_cpu", "record"};
    }
    for (const auto& name : chosen) {
        if (!figures.contains(name)) {
            std::fprintf(stderr, "usage: controller_bench [latency|first_picture|cli_cpu|record ...]\n");
            return 2;
        }
    }
    log::setup("controller_bench", false);
    const auto start = Clock::now();
    for (const auto& name : chosen) {
        figures.at(name)();
        std::fflush(stdout);
    }
    std::printf("\ntotal %.0f s\n", seconds(Clock::now() - start));
    return 0;
}
