#include "app/controlling_fixture.h"
#include "ui/session/remote_screen_view.h"
#include "ui/session/session_view.h"
#include "ui/session/session_window.h"
#include "ui/logic/session_window_texts.h"
#include "ui/session/session_window_manager.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QToolButton>
#include <QWheelEvent>

#include <functional>

namespace tavoro::ui {
namespace {

using nlohmann::json;

json move(double x, double y) { return {{"kind", "mouse_move"}, {"x", x}, {"y", y}}; }
json button(const char* name, bool down) { return {{"kind", "mouse_btn"}, {"btn", name}, {"down", down}}; }
json key(int vk, bool down) { return {{"kind", "key"}, {"vk", vk}, {"down", down}, {"ext", false}}; }
json wheel(int dx, int dy) { return {{"kind", "wheel"}, {"dx", dx}, {"dy", dy}}; }

// X key codes of a PC keyboard.
constexpr quint32 keyShiftL = 50;
constexpr quint32 key1 = 10;
constexpr quint32 keyTab = 23;
constexpr quint32 keyC = 54;

void mouse(QWidget& to, QEvent::Type type, QPointF at, Qt::MouseButton pressed = Qt::LeftButton)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease || type == QEvent::MouseMove ? Qt::NoButton : pressed;
    QMouseEvent event(type, at, to.mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : pressed, held,
        Qt::NoModifier);
    QApplication::sendEvent(&to, &event);
}

// held: the modifiers as the window system reports them, from before the event (QKeyEvent::modifiers
// then gives a modifier key's own event the state after it).
void keyEvent(QWidget& to, QEvent::Type type, int qtKey, quint32 keycode, Qt::KeyboardModifiers held,
    bool autoRepeat = false)
{
    QKeyEvent event(type, qtKey, held, keycode, 0, 0, QString(), autoRepeat);
    QApplication::sendEvent(&to, &event);
}

class SessionWindowTest : public app::test::ControllingTest {
protected:
    ~SessionWindowTest() override { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    // The event fields of the "input" messages sent since the last call.
    std::vector<json> takeInputs()
    {
        const auto sent = sentOfType("input");
        std::vector<json> fields;
        for (auto i = inputsSeen_; i < sent.size(); ++i) {
            json event = sent[i];
            for (const char* envelope : {"type", "seq", "to", "call_id"}) {
                event.erase(envelope);
            }
            fields.push_back(std::move(event));
        }
        inputsSeen_ = sent.size();
        return fields;
    }
    std::string notice(SessionView& view) { return view.findChild<QLabel*>("notice")->text().toStdString(); }
    void click(SessionView& view, const char* name) { view.findChild<QToolButton*>(name)->click(); }

    std::size_t inputsSeen_ = 0;
};

TEST_F(SessionWindowTest, TheRemoteScreenTurnsLocalEventsIntoInputInOrder)
{
    startOnline();
    auto session = acceptedSession();
    ASSERT_TRUE(session);
    receiveVideoOfSize(2000, 500); // bars above and below the picture in any view not four times wider than high

    const struct {
        const char* what;
        std::function<void(QWidget& screen, QPointF centre)> act;
        std::vector<json> expected;
    } cases[] = {
        {"a click on the black bar sends the button but no move",
            [](QWidget& s, QPointF c) {
                mouse(s, QEvent::MouseButtonPress, {c.x(), 2});
                mouse(s, QEvent::MouseButtonRelease, {c.x(), 2});
            },
            {button("left", true), button("left", false)}},
        {"a click on the bar after a move sends the pending move first",
            [](QWidget& s, QPointF c) {
                mouse(s, QEvent::MouseMove, {c.x() / 2, c.y()});
                mouse(s, QEvent::MouseButtonPress, {c.x(), 2});
            },
            {move(0.25, 0.5), button("left", true)}},
        {"a right click on the picture presses at its own spot and releases without a move",
            [](QWidget& s, QPointF c) {
                mouse(s, QEvent::MouseMove, {c.x() / 2, c.y()});
                mouse(s, QEvent::MouseButtonPress, c, Qt::RightButton);
                mouse(s, QEvent::MouseButtonRelease, c, Qt::RightButton);
            },
            {move(0.5, 0.5), button("right", true), button("right", false)}},
        {"the second press of a double click is a press",
            [](QWidget& s, QPointF c) {
                mouse(s, QEvent::MouseButtonDblClick, c);
                mouse(s, QEvent::MouseButtonRelease, c);
            },
            {move(0.5, 0.5), button("left", true), move(0.5, 0.5), button("left", false)}},
        {"Shift+1 sends Shift and the 1 key, a repeat only as presses",
            [](QWidget& s, QPointF) {
                keyEvent(s, QEvent::KeyPress, Qt::Key_Shift, keyShiftL, Qt::NoModifier);
                keyEvent(s, QEvent::KeyPress, Qt::Key_Exclam, key1, Qt::ShiftModifier);
                keyEvent(s, QEvent::KeyRelease, Qt::Key_Exclam, key1, Qt::ShiftModifier, true);
                keyEvent(s, QEvent::KeyPress, Qt::Key_Exclam, key1, Qt::ShiftModifier, true);
                keyEvent(s, QEvent::KeyRelease, Qt::Key_Exclam, key1, Qt::ShiftModifier);
                keyEvent(s, QEvent::KeyRelease, Qt::Key_Shift, keyShiftL, Qt::ShiftModifier);
            },
            {key(16, true), key(0x31, true), key(0x31, true), key(0x31, false), key(16, false)}},
        {"Tab goes to the host, not to the next widget",
            [](QWidget& s, QPointF) { keyEvent(s, QEvent::KeyPress, Qt::Key_Tab, keyTab, Qt::NoModifier); },
            {key(9, true)}},
        {"losing the focus releases the held button and key",
            [](QWidget& s, QPointF c) {
                mouse(s, QEvent::MouseButtonPress, c);
                keyEvent(s, QEvent::KeyPress, Qt::Key_C, keyC, Qt::NoModifier);
                QFocusEvent lost(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
                QApplication::sendEvent(&s, &lost);
            },
            {move(0.5, 0.5), button("left", true), key(0x43, true), button("left", false), key(0x43, false)}},
        {"one wheel notch",
            [](QWidget& s, QPointF c) {
                QWheelEvent turn(c, s.mapToGlobal(c), {}, {0, 120}, Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                    false);
                QApplication::sendEvent(&s, &turn);
            },
            {wheel(0, 1)}},
    };
    for (const auto& c : cases) {
        {
            SessionView view(controller, session, scheduler, {});
            view.resize(1000, 1040);
            view.show();
            RemoteScreenView& screen = view.screen();
            c.act(screen, QPointF(screen.width() / 2.0, screen.height() / 2.0));
            scheduler.advance(std::chrono::milliseconds(50));
            EXPECT_EQ(takeInputs(), c.expected) << c.what;
        }
        takeInputs(); // what the view released when it went away
    }
}

TEST_F(SessionWindowTest, TheToolbarCallsTheSessionAndSaysWhatHappened)
{
    startOnline();
    auto session = acceptedSession();
    ASSERT_TRUE(session);
    SessionView view(controller, session, scheduler, {});
    view.show();

    click(view, "superKey");
    EXPECT_EQ(takeInputs(), (std::vector{key(91, true), key(91, false)}));

    click(view, "control");
    EXPECT_EQ(notice(view), "已释放控制权");
    ASSERT_FALSE(sentOfType("signal").empty());
    EXPECT_EQ(sentOfType("signal").back()["kind"], "release_control");

    click(view, "keyboardCapture");
    EXPECT_TRUE(view.screen().keyboardCapture());
    EXPECT_EQ(notice(view), "已接管键盘 — 焦点在远端画面");
    click(view, "keyboardCapture");
    EXPECT_FALSE(view.screen().keyboardCapture());
    EXPECT_EQ(notice(view), "已退出接管");

    click(view, "sound");
    run();
    EXPECT_TRUE(session->audioMuted.get());
    EXPECT_EQ(notice(view), "远端声音已静音");
    EXPECT_EQ(view.findChild<QToolButton*>("sound")->text().toStdString(), "🔇");
}

TEST_F(SessionWindowTest, TheHostsPointerIsDrawnForAViewerOnly)
{
    startOnline();
    auto session = acceptedSession();
    receiveVideoOfSize(1920, 1080);
    SessionView view(controller, session, scheduler, {});
    view.resize(1000, 1040);
    view.show();
    auto* arrow = view.screen().findChild<QWidget*>("remoteCursor");
    ASSERT_NE(arrow, nullptr);
    const json atCentre{{"xn", 0.5}, {"yn", 0.5}};
    session->ingestSignal("cursor_pos", &atCentre);
    run();
    EXPECT_FALSE(arrow->isVisible()) << "control state unknown";

    const json someoneElse{{"holder", "333333333"}};
    session->ingestSignal("control_state", &someoneElse);
    run();
    ASSERT_TRUE(arrow->isVisible());
    const QPoint centre(view.screen().width() / 2, view.screen().height() / 2);
    EXPECT_LE((arrow->geometry().topLeft() - centre).manhattanLength(), 2) << "the tip on the picture's centre";

    const json me{{"holder", "123456789"}};
    session->ingestSignal("control_state", &me);
    run();
    EXPECT_FALSE(arrow->isVisible());
}

// A session window manager following the controller's session, on one 1920 × 1080 screen.
class SessionWindowManagerTest : public SessionWindowTest {
protected:
    void follow()
    {
        manager = std::make_unique<SessionWindowManager>(controller, scheduler, settings, SessionActions{},
            [] { return std::vector<Rect>{{0, 0, 1920, 1080}}; });
        following = controller->control.subscribe([this](const auto& session) { manager->update(session); });
    }
    Rect frame() const
    {
        const QRect shown = manager->window()->geometry();
        return {shown.x(), shown.y(), shown.width(), shown.height()};
    }

    std::unique_ptr<SessionWindowManager> manager;
    core::Observable<std::shared_ptr<control::ControlSession>>::Subscription following;
};

TEST_F(SessionWindowManagerTest, OneWindowPerSessionAndClosingItByHandEndsTheSession)
{
    startOnline();
    follow();
    auto session = acceptedSession();
    SessionWindow* window = manager->window();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowTitle().toStdString(), "Tavoro — Studio");
    manager->update(session);
    EXPECT_EQ(manager->window(), window) << "the same session keeps its window";

    window->close();
    run();
    EXPECT_EQ(manager->window(), nullptr);
    EXPECT_EQ(controller->control.get(), nullptr);
    EXPECT_EQ(sentOfType("bye").size(), 1u);
    EXPECT_TRUE(settings.get(text::kSessionFrameName)) << "the frame is kept for the next session";
}

TEST_F(SessionWindowManagerTest, ASessionEndedElsewhereClosesItsWindowWithoutBye)
{
    startOnline();
    follow();
    acceptedSession();
    ASSERT_NE(manager->window(), nullptr);
    deliver({{"type", "bye"}, {"from", kHost}, {"reason", "host_close"}});
    run();
    EXPECT_EQ(manager->window(), nullptr);
    EXPECT_TRUE(sentOfType("bye").empty());
}

TEST_F(SessionWindowManagerTest, TheFirstWindowTakesTheRemoteAspectOnceAndASavedFrameIsKept)
{
    startOnline();
    follow();
    acceptedSession();
    EXPECT_EQ(frame(), (Rect{320, 160, 1280, 760})) << "centred at the initial size";
    receiveVideoOfSize(2560, 1600);
    EXPECT_EQ(frame(), (Rect{320, 120, 1280, 840}));
    receiveVideoOfSize(1920, 1080);
    EXPECT_EQ(frame(), (Rect{320, 120, 1280, 840})) << "only the first remote size counts";
    manager->window()->close();
    run();
    EXPECT_EQ(settings.get(text::kSessionFrameName), (json{{"x", 320}, {"y", 120}, {"w", 1280}, {"h", 840}}));

    settings.set(text::kSessionFrameName, {{"x", 4000}, {"y", 200}, {"w", 800}, {"h", 600}});
    wallClock.set(wallClock.now() + std::chrono::milliseconds(5));
    acceptedSession();
    EXPECT_EQ(frame(), (Rect{1120, 200, 800, 600})) << "moved onto the screen there is";
    receiveVideoOfSize(2560, 1600);
    EXPECT_EQ(frame(), (Rect{1120, 200, 800, 600})) << "a saved frame is never resized";
}

} // namespace
} // namespace tavoro::ui
