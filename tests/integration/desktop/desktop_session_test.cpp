// The desktop application as a person uses it, on a private X display of its own (Xvfb): the main
// window calls a real tavoro-host sharing another private display through a real tavoro-rendezvous,
// the session window shows the host's screen, and real XTest clicks and keys into that window land on
// the host. Screenshots of both windows are left in the build folder for a person to look at.
#include "platform/linux/x11_input_sink.h"
#include "support/desktop_driver.h"
#include "support/x_client.h"
#include "ui/logic/view_rect.h"

#include <QScreen>

#include <gtest/gtest.h>
#include <X11/keysym.h>
#include <xcb/xcb_keysyms.h>

#include <filesystem>
#include <thread>

namespace tavoro::test {
namespace {

using namespace std::chrono_literals;

constexpr int kHostWidth = 1280;
constexpr int kHostHeight = 720;
constexpr std::uint32_t kLeftColour = 0xD02020;
constexpr std::uint32_t kRightColour = 0x2040D0;
constexpr std::uint32_t kHostEvents = XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_POINTER_MOTION |
    XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_KEY_RELEASE;
constexpr std::uint16_t kShift = 16;
constexpr std::uint16_t kDigitOne = 0x31;

void saveScreenshot(const QWidget& window, const std::string& name)
{
    const std::filesystem::path folder = TAVORO_SCREENSHOT_DIR;
    std::filesystem::create_directories(folder);
    const QRect frame = window.frameGeometry();
    const QImage shot = QGuiApplication::primaryScreen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height()).toImage();
    EXPECT_TRUE(shot.save(QString::fromStdString((folder / name).string()))) << name;
}

bool near(QRgb actual, std::uint32_t expected)
{
    return std::abs(qRed(actual) - int(expected >> 16 & 0xFF)) < 40 && std::abs(qGreen(actual) - int(expected >> 8 & 0xFF)) < 40 &&
        std::abs(qBlue(actual) - int(expected & 0xFF)) < 40;
}

// The desktop application on this process's display, in session with a host whose screen shows a red
// left half and a blue right half, and a window there that reports clicks, motion and keys.
class DesktopSession : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(hosting.ready());
        hostWindow = hostScreen.window({0, 0, kHostWidth, kHostHeight}, kLeftColour, kHostEvents);
        hostScreen.fill(hostWindow, {kHostWidth / 2, 0, kHostWidth / 2, kHostHeight}, kRightColour);
        hostScreen.focus(hostWindow);
        hostScreen.sync();
        auto opened = platform::X11InputSink::open("");
        ASSERT_TRUE(opened) << opened.error();
        localInput = std::move(*opened);

        desktop = std::make_unique<app::DesktopApplication>(desktopSetupFor(hosting, config));
        desktop->show();
        ASSERT_TRUE(runEventsUntil([&] { return desktop->controller().online.get(); }, 10s));
    }

    // Types the host's ID and password into the main window and presses "连 接".
    void callTheHost()
    {
        saveScreenshot(desktop->mainWindow(), "main_window.png");
        session = callFromMainWindow(*desktop, hosting.hostId, hosting.password);
        ASSERT_NE(session, nullptr) << desktop->controller().status.get();
        view = session->findChild<QWidget*>("remoteScreen");
        ASSERT_NE(view, nullptr);
        session->activateWindow();
        view->setFocus();
    }

    // Where the host's picture lies on this display, in global pixels.
    QRectF picture() const
    {
        const auto rect = ui::videoRect(control::DisplayMode::aspect, kHostWidth, kHostHeight,
            {double(view->width()), double(view->height())}, 1.0);
        const QPoint origin = view->mapToGlobal(QPoint(0, 0));
        return {origin.x() + rect.x, origin.y() + rect.y, rect.width, rect.height};
    }

    QPoint onPicture(double x, double y) const
    {
        const QRectF area = picture();
        return {int(area.x() + x * area.width()), int(area.y() + y * area.height())};
    }

    // Where a point of this display lands on the host's screen.
    QPointF onHost(QPoint global) const
    {
        const QRectF area = picture();
        return {(global.x() - area.x()) / area.width() * kHostWidth, (global.y() - area.y()) / area.height() * kHostHeight};
    }

    QRgb shownAt(QPoint global) const
    {
        return QGuiApplication::primaryScreen()->grabWindow(0, global.x(), global.y(), 1, 1).toImage().pixel(0, 0);
    }

    // Runs the GUI thread while another thread injects local input.
    void injectWhileRunning(const std::function<void()>& inject, std::chrono::milliseconds settle = 500ms)
    {
        std::atomic<bool> done{false};
        std::thread injecting([&] {
            inject();
            done = true;
        });
        runEventsUntil([&] { return done.load(); }, 10s);
        injecting.join();
        runEventsFor(settle);
    }

    template <typename Event>
    std::optional<Event> nextHostEvent(std::uint8_t type, std::chrono::milliseconds limit = 3s)
    {
        auto event = hostScreen.waitForEvent(type, limit);
        if (!event) {
            return std::nullopt;
        }
        return *reinterpret_cast<const Event*>(event.get());
    }

    std::string hostSaid() const
    {
        std::string all;
        for (const auto& line : hosting.host->stdoutLines()) {
            all += line + "\n";
        }
        return all;
    }

    HostingSetup hosting{TAVORO_RENDEZVOUS_BIN, TAVORO_HOST_BIN, kHostWidth, kHostHeight};
    XClient hostScreen{hosting.screen.display()};
    xcb_window_t hostWindow = 0;
    TempDir config;
    std::unique_ptr<platform::X11InputSink> localInput;
    std::unique_ptr<app::DesktopApplication> desktop;
    QWidget* session = nullptr;
    QWidget* view = nullptr; // the remote screen
};

TEST_F(DesktopSession, TheSessionWindowShowsTheHostAndItsClicksAndKeysLandThere)
{
    ASSERT_NO_FATAL_FAILURE(callTheHost());
    EXPECT_EQ(session->windowTitle().toStdString(), "Tavoro — " + desktop->controller().controlSession()->peerName());
    const QPoint left = onPicture(0.25, 0.5);
    const QPoint right = onPicture(0.75, 0.5);
    EXPECT_TRUE(runEventsUntil([&] { return near(shownAt(left), kLeftColour) && near(shownAt(right), kRightColour); }, 10s))
        << "the host's two halves are not shown side by side";
    saveScreenshot(*session, "session_window.png");

    // A click lands where it was made.
    const QPoint target = onPicture(0.3, 0.6);
    injectWhileRunning([&] {
        localInput->moveTo(target.x(), target.y(), platform::MouseMotion::moved);
        localInput->button(target.x(), target.y(), platform::MouseButton::left, true);
        localInput->button(target.x(), target.y(), platform::MouseButton::left, false);
    });
    const auto press = nextHostEvent<xcb_button_press_event_t>(XCB_BUTTON_PRESS);
    ASSERT_TRUE(press) << "the click did not reach the host";
    const QPointF expected = onHost(target);
    EXPECT_NEAR(press->root_x, expected.x(), 1.0);
    EXPECT_NEAR(press->root_y, expected.y(), 1.0);

    // Shift+1 arrives as the "1" key with Shift held: "!" on the host's layout.
    injectWhileRunning([&] {
        for (auto [code, down] : {std::pair{kShift, true}, {kDigitOne, true}, {kDigitOne, false}, {kShift, false}}) {
            localInput->key(code, down);
        }
    });
    std::unique_ptr<xcb_key_symbols_t, decltype(&xcb_key_symbols_free)> symbols(
        xcb_key_symbols_alloc(hostScreen.get()), &xcb_key_symbols_free);
    std::optional<xcb_key_press_event_t> key;
    while ((key = nextHostEvent<xcb_key_press_event_t>(XCB_KEY_PRESS)) &&
           xcb_key_symbols_get_keysym(symbols.get(), key->detail, 0) == XK_Shift_L) {
    }
    ASSERT_TRUE(key) << "no key reached the host";
    EXPECT_TRUE(key->state & XCB_MOD_MASK_SHIFT);
    EXPECT_EQ(xcb_key_symbols_get_keysym(symbols.get(), key->detail, 1), xcb_keysym_t(XK_exclam));
}

TEST_F(DesktopSession, AThousandMovesInASecondAreSixtyAndTheLastOneArrives)
{
    ASSERT_NO_FATAL_FAILURE(callTheHost());
    const QPoint from = onPicture(0.1, 0.2);
    QPoint last;
    injectWhileRunning([&] {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < 1000; ++i) {
            last = from + QPoint(i % 500, i / 10);
            localInput->moveTo(last.x(), last.y(), platform::MouseMotion::moved);
            std::this_thread::sleep_until(start + std::chrono::microseconds(1000 * (i + 1)));
        }
    });
    int moves = 0;
    std::optional<xcb_motion_notify_event_t> motion;
    while (auto next = nextHostEvent<xcb_motion_notify_event_t>(XCB_MOTION_NOTIFY, 300ms)) {
        ++moves;
        motion = next;
    }
    ASSERT_TRUE(motion) << "no move reached the host";
    EXPECT_LE(moves, 61) << "a second of moves at most sixty a second";
    const QPointF expected = onHost(last);
    EXPECT_NEAR(motion->root_x, expected.x(), 1.0);
    EXPECT_NEAR(motion->root_y, expected.y(), 1.0);
}

TEST_F(DesktopSession, ModifiersHeldWhenTheWindowLosesFocusAreReleasedOnTheHost)
{
    ASSERT_NO_FATAL_FAILURE(callTheHost());
    injectWhileRunning([&] { localInput->key(kShift, true); });
    ASSERT_TRUE(nextHostEvent<xcb_key_press_event_t>(XCB_KEY_PRESS)) << "Shift did not reach the host";

    XClient local{qgetenv("DISPLAY").toStdString()};
    const auto elsewhere = local.window({0, 0, 50, 50}, 0x000000);
    local.focus(elsewhere);
    local.sync();
    runEventsFor(500ms);
    EXPECT_TRUE(nextHostEvent<xcb_key_release_event_t>(XCB_KEY_RELEASE)) << "Shift is still held on the host";
    injectWhileRunning([&] { localInput->key(kShift, false); }, 0ms);
}

TEST_F(DesktopSession, ClosingTheWindowEndsTheSessionOnTheHost)
{
    ASSERT_NO_FATAL_FAILURE(callTheHost());
    ASSERT_TRUE(runEventsUntil([&] { return hosting.host->countStdout(" 控制中") > 0; }, 10s))
        << hostSaid();
    const auto onlineLines = hosting.host->countStdout("在线 · ID ");
    session->close();
    EXPECT_TRUE(runEventsUntil([&] { return hosting.host->countStdout("在线 · ID ") > onlineLines; }, 5s))
        << "the host did not hear that the session ended";
    EXPECT_TRUE(runEventsUntil([&] { return desktop->controller().control.get() == nullptr; }));
}

} // namespace
} // namespace tavoro::test
