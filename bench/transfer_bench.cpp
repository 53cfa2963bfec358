// File transfer through a real tavoro-rendezvous on loopback, between two installations in this
// process (each its own signaling connection and transfer manager): throughput against the protocol's
// bound of 32 MiB/s, resident memory growth while 1 GiB is sent, and the delay of other messages on
// the sender's connection while a transfer runs (probes every 20 ms). A driver that prints figures.
#include "core/background_queue.h"
#include "core/clock.h"
#include "core/event_loop.h"
#include "core/main_queue.h"
#include "core/thread_serial_queue.h"
#include "files/file_transfer_manager.h"
#include "files/signaling_transfer_channel.h"
#include "platform/fake/fixed_user_folders.h"
#include "process_cpu.h"
#include "signaling/signaling.h"
#include "signaling/tls_websocket_connector.h"
#include "support/rendezvous_process.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <random>
#include <thread>

namespace {

using namespace tavoro;
using bench::printLoad;
using bench::processCpuSeconds;
using Clock = std::chrono::steady_clock;

// The main queue of the bench: one event-loop thread.
class LoopMainQueue final : public core::MainQueue {
public:
    explicit LoopMainQueue(core::EventLoopThread& loop) : loop_(loop) {}
    bool isMainThread() const override { return loop_.isCurrentThread(); }
    void post(std::function<void()> task) override { loop_.post(std::move(task)); }

private:
    core::EventLoopThread& loop_;
};

std::int64_t nowNanos() { return Clock::now().time_since_epoch().count(); }

// One installation: its connection and its transfer manager, every file accepted.
struct Installation {
    Installation(const std::string& id, const test::RendezvousProcess& server, core::MainQueue& main,
        core::BackgroundQueue& background, const std::filesystem::path& downloads)
        : sig(std::make_shared<signaling::TlsWebSocketConnector>(server.fingerprint), background.scheduler()),
          channel(sig),
          manager(channel, worker, main, background.scheduler(), std::make_shared<core::SteadyClock>(), folders,
              [](const std::string&) { return true; })
    {
        folders.downloadsPath = downloads;
        folders.temporaryPath = downloads;
        sig.onOpen = [this] {
            std::lock_guard lock(mutex);
            open = true;
            changed.notify_all();
        };
        sig.onText = [this](const std::string& type, const nlohmann::json& message) {
            if (manager.handleMessage(type, message) || type != "push_msg") {
                return;
            }
            const auto sentAt = std::stoll(message.value("text", "0"));
            std::lock_guard lock(mutex);
            delaysMs.push_back(double(nowNanos() - sentAt) / 1e6);
        };
        sig.start("wss://127.0.0.1:" + std::to_string(server.wss) + "/ws", id, "qxm", "");
        std::unique_lock lock(mutex);
        changed.wait_for(lock, std::chrono::seconds(10), [&] { return open; });
    }
    ~Installation() { sig.shutdown(std::chrono::seconds(1)); }

    std::vector<double> takeDelays()
    {
        std::lock_guard lock(mutex);
        return std::exchange(delaysMs, {});
    }

    platform::fake::FixedUserFolders folders;
    core::ThreadSerialQueue worker{"tavoro.filexfer"};
    signaling::Signaling sig;
    files::SignalingTransferChannel channel;
    files::FileTransferManager manager;
    std::mutex mutex;
    std::condition_variable changed;
    bool open = false;              // guarded by mutex
    std::vector<double> delaysMs;   // guarded by mutex: probes received
};

long residentKiB() { return test::residentKiB(::getpid()); }

double percentile(std::vector<double> values, double p)
{
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(p * double(values.size())))];
}

void writeFile(const std::filesystem::path& path, std::int64_t size, bool random)
{
    std::ofstream out(path, std::ios::binary);
    std::mt19937_64 generator(42);
    std::vector<std::uint64_t> block(1 << 17); // 1 MiB
    for (std::int64_t written = 0; written < size; written += 1 << 20) {
        if (random) {
            std::generate(block.begin(), block.end(), generator);
        }
        out.write(reinterpret_cast<const char*>(block.data()), 1 << 20);
    }
}

struct Outcome {
    bool complete = false;
    double seconds = 0;
    long peakGrowthKiB = 0;
    std::vector<double> probeDelays;
};

// Sends the file from a to b and waits for b's job to end, probing a→b every 20 ms meanwhile.
Outcome transfer(Installation& a, Installation& b, const std::filesystem::path& file)
{
    const long baseline = residentKiB();
    std::atomic<bool> running{true};
    long peak = baseline;
    std::thread probe([&] {
        while (running) {
            a.sig.send("push_msg", {{"to", "222222222"}, {"call_id", ""}, {"text", std::to_string(nowNanos())}});
            peak = std::max(peak, residentKiB());
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    const auto start = Clock::now();
    const auto earlierJobs = b.manager.jobs().get().size();
    a.manager.send(file, "", "222222222", "bench");
    Outcome outcome;
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const auto jobs = b.manager.jobs().get();
        if (jobs.size() > earlierJobs) {
            const auto status = jobs.front()->status.get();
            if (status == files::kStatusDone || status == files::kStatusFailed) {
                outcome.complete = status == files::kStatusDone;
                break;
            }
        }
    }
    outcome.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (const auto sent = a.manager.jobs().get(); !sent.empty() && !outcome.complete) {
        std::printf("sender: %s after %lld bytes; receiver: %lld bytes\n", sent.front()->status.get().c_str(),
            static_cast<long long>(sent.front()->sent.get()),
            static_cast<long long>(b.manager.jobs().get().front()->sent.get()));
    }
    running = false;
    probe.join();
    outcome.peakGrowthKiB = peak - baseline;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    outcome.probeDelays = b.takeDelays();
    return outcome;
}

void report(const char* what, std::int64_t bytes, const Outcome& o)
{
    const double mibPerSecond = double(bytes) / (1 << 20) / o.seconds;
    std::printf("%-34s %s  %.2f s  %.1f MiB/s (%.0f %% of 32 MiB/s)  RSS growth %.1f MiB  probe delay p50 %.1f ms "
                "p99 %.1f ms max %.1f ms (%zu probes)\n",
        what, o.complete ? "完成" : "中断", o.seconds, mibPerSecond, mibPerSecond / 32 * 100,
        double(o.peakGrowthKiB) / 1024, percentile(o.probeDelays, 0.5), percentile(o.probeDelays, 0.99),
        percentile(o.probeDelays, 1.0), o.probeDelays.size());
}

} // namespace

int main(int argc, char** argv)
{
    const bool large = argc > 1 && std::string(argv[1]) == "--with-1gib";
    printLoad();
    test::TempDir state;
    test::TempDir files;
    test::TempDir downloads;
    const auto server = test::startRendezvous(TAVORO_RENDEZVOUS_BIN, test::rendezvousArgs(state));
    core::EventLoopThread mainLoop("bench.main");
    LoopMainQueue mainQueue(mainLoop);
    core::BackgroundQueue background;
    Installation a("111111111", server, mainQueue, background, downloads.path());
    Installation b("222222222", server, mainQueue, background, downloads.path());

    const double serverCpuBefore = processCpuSeconds(server.process->pid());
    const auto probeOnly = [&] {
        for (int i = 0; i < 100; ++i) {
            a.sig.send("push_msg", {{"to", "222222222"}, {"call_id", ""}, {"text", std::to_string(nowNanos())}});
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return b.takeDelays();
    }();
    std::printf("%-34s probe delay p50 %.2f ms p99 %.2f ms\n", "no transfer", percentile(probeOnly, 0.5),
        percentile(probeOnly, 0.99));

    const std::int64_t size = 256 << 20;
    writeFile(files.path() / "random-256MiB.bin", size, true);
    const auto cpuBefore = processCpuSeconds(::getpid());
    const auto outcome = transfer(a, b, files.path() / "random-256MiB.bin");
    report("256 MiB of random bytes", size, outcome);
    std::printf("%-34s bench process %.0f %% of a core, tavoro-rendezvous %.0f %%\n", "",
        (processCpuSeconds(::getpid()) - cpuBefore) / outcome.seconds * 100,
        (processCpuSeconds(server.process->pid()) - serverCpuBefore) / outcome.seconds * 100);
    std::filesystem::remove(files.path() / "random-256MiB.bin");
    std::filesystem::remove(downloads.path() / "random-256MiB.bin");

    if (large) {
        const std::int64_t big = std::int64_t(1) << 30;
        writeFile(files.path() / "zeros-1GiB.bin", big, false);
        report("1 GiB (sender and receiver)", big, transfer(a, b, files.path() / "zeros-1GiB.bin"));
    }
    return 0;
}
