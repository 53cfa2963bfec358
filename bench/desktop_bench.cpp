// The desktop application's figures, on private X displays with a real tavoro-rendezvous and a real
// tavoro-host sharing a 1920 × 1080 screen:
//  1. start-up: the program `tavoro` launched until its main window is mapped (five runs), then its CPU
//     use and resident memory while idle with no session;
//  2. one session in this process, the host's screen moving at 30 pictures a second: pictures painted
//     per second, the GUI thread's CPU use, the process's resident memory;
//  3. glass to glass through the window: the host's screen changes colour, the session window's pixels
//     on this display follow (p50, p95 over 20 changes).
#include "process_cpu.h"

#include "support/desktop_driver.h"
#include "support/x_client.h"
#include "support/xvfb.h"

#include <QApplication>
#include <QEventLoop>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <memory>
#include <thread>
#include <time.h>
#include <vector>

namespace {

using namespace tavoro;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kHostWidth = 1920;
constexpr int kHostHeight = 1080;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

double percentile(std::vector<double> values, double fraction)
{
    std::ranges::sort(values);
    return values.empty() ? 0 : values[static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1))];
}

double threadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Resident memory of a process in MiB (VmRSS).
double residentMiB(const std::string& pid)
{
    std::ifstream status("/proc/" + pid + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stod(line.substr(6)) / 1024.0;
        }
    }
    return 0;
}

std::vector<std::string> serverArgs(const test::HostingSetup& hosting, const test::TempDir& config)
{
    return {"--server", "127.0.0.1:" + std::to_string(hosting.server.wss), "--server-cert-sha256",
        hosting.server.fingerprint, "--stun", "127.0.0.1:" + std::to_string(hosting.server.stun), "--config-dir",
        config.path().string()};
}

// Waits for the next top-level window mapped on the display watched for substructure changes.
bool waitForMappedWindow(test::XClient& display, std::chrono::milliseconds limit)
{
    return static_cast<bool>(display.waitForEvent(XCB_MAP_NOTIFY, limit));
}

void watchTopLevelWindows(test::XClient& display)
{
    const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(display.get(), display.root(), XCB_CW_EVENT_MASK, &mask);
    display.sync();
}

void measureStartUp(const test::HostingSetup& hosting, const std::string& display)
{
    test::XClient watcher(display);
    watchTopLevelWindows(watcher);
    std::vector<double> ms;
    for (int run = 0; run < 5; ++run) {
        test::TempDir config;
        const auto start = Clock::now();
        test::ChildProcess program(TAVORO_DESKTOP_BIN, serverArgs(hosting, config), {"DISPLAY=" + display});
        if (!waitForMappedWindow(watcher, 10s)) {
            std::printf("start-up: the main window did not appear\n");
            return;
        }
        ms.push_back(1000 * secondsSince(start));
        if (run == 4) {
            std::this_thread::sleep_for(3s); // settled: connected and registered
            const double cpuStart = bench::processCpuSeconds(program.pid());
            std::this_thread::sleep_for(10s);
            const double idleCpu = bench::processCpuSeconds(program.pid()) - cpuStart;
            std::printf("idle with no session (10 s): %.2f %% of a core, resident %.0f MiB\n", 10.0 * idleCpu,
                residentMiB(std::to_string(program.pid())));
        }
    }
    std::printf("start-up to the main window mapped: median %.0f ms, max %.0f ms (5 runs)     target ≤ 1000 ms\n",
        percentile(ms, 0.5), percentile(ms, 1.0));
}

// Counts paints of the picture.
class PaintCounter final : public QObject {
public:
    std::atomic<int> paints{0};

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            ++paints;
        }
        return QObject::eventFilter(watched, event);
    }
};

void measureSession(app::DesktopApplication& desktop, QWidget& view)
{
    PaintCounter counter;
    QWidget* picture = view.findChild<QWidget*>("picture");
    picture->installEventFilter(&counter);
    test::runEventsFor(3s); // the stream settles
    counter.paints = 0;
    const double cpuStart = threadCpuSeconds();
    const auto start = Clock::now();
    QEventLoop loop; // waits for events, as the application does
    QTimer::singleShot(10s, &loop, &QEventLoop::quit);
    loop.exec();
    const double wall = secondsSince(start);
    std::printf("session, host screen moving at 30 fps, 1080p in a %d×%d view: %.1f pictures painted a second, "
                "GUI thread %.1f %% of a core (target < 40 %%)\n",
        view.width(), view.height(), counter.paints / wall, 100.0 * (threadCpuSeconds() - cpuStart) / wall);
    std::printf("resident memory with one 1080p session: %.0f MiB (target ≤ 250 MB)\n", residentMiB("self"));
    std::printf("  %s\n", desktop.controller().controlSession() ? desktop.controller().controlSession()->statusLine().c_str() : "");
    picture->removeEventFilter(&counter);
}

QRgb shownAt(QPoint global)
{
    return QGuiApplication::primaryScreen()->grabWindow(0, global.x(), global.y(), 1, 1).toImage().pixel(0, 0);
}

// The host's screen alternates between two colours; each change is timed until this display shows it.
void measureGlassToGlass(test::XClient& hostScreen, QWidget& view)
{
    const auto window = hostScreen.window({0, 0, kHostWidth, kHostHeight}, 0x000000);
    hostScreen.sync();
    test::runEventsFor(2s);
    // Off the centre, where the host's pointer is drawn.
    const QPoint centre = view.mapToGlobal(QPoint(view.width() / 4, view.height() / 4));
    std::vector<double> ms;
    for (int i = 0; i < 20; ++i) {
        const std::uint32_t colour = i % 2 ? 0x000000 : 0xFFFFFF;
        const int expected = i % 2 ? 0 : 255;
        const auto start = Clock::now();
        hostScreen.fill(window, {0, 0, kHostWidth, kHostHeight}, colour);
        hostScreen.sync();
        if (test::runEventsUntil([&] { return std::abs(qRed(shownAt(centre)) - expected) < 40; }, 3s)) {
            ms.push_back(1000 * secondsSince(start));
        }
        test::runEventsFor(300ms);
    }
    std::printf("glass to glass through the window: p50 %.1f ms, p95 %.1f ms (%zu of 20 changes seen) "
                "(target p50 ≤ 30 ms)\n",
        percentile(ms, 0.5), percentile(ms, 0.95), ms.size());
}

} // namespace

int main(int argc, char** argv)
{
    bench::printLoad();
    test::Xvfb display(1920, 1200);
    test::HostingSetup hosting(TAVORO_RENDEZVOUS_BIN, TAVORO_HOST_BIN, kHostWidth, kHostHeight);
    if (!display.running() || !hosting.ready()) {
        std::printf("the displays or the host did not start\n");
        return 1;
    }
    measureStartUp(hosting, display.display());

    ::setenv("DISPLAY", display.display().c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    QApplication application(argc, argv);
    test::TempDir config;
    app::DesktopApplication desktop(test::desktopSetupFor(hosting, config));
    desktop.show();
    test::runEventsUntil([&] { return desktop.controller().online.get(); }, 10s);

    auto player = std::make_unique<test::ChildProcess>("/usr/bin/ffplay",
        std::vector<std::string>{"-loglevel", "error", "-an", "-noborder", "-left", "0", "-top", "0", "-x", "1920", "-y",
            "1080", "-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=30"},
        std::vector<std::string>{"DISPLAY=" + hosting.screen.display()});
    QWidget* session = test::callFromMainWindow(desktop, hosting.hostId, hosting.password);
    auto* view = session ? session->findChild<QWidget*>("remoteScreen") : nullptr;
    if (!view) {
        std::printf("no session window: %s\n", desktop.controller().status.get().c_str());
        return 1;
    }
    measureSession(desktop, *view);
    player.reset(); // a still screen for the colour changes
    test::XClient hostScreen(hosting.screen.display());
    measureGlassToGlass(hostScreen, *view);
    return 0;
}
