#include "app/controlling_fixture.h"
#include "ui/session/remote_screen_view.h"
#include "ui/session/session_view.h"
#include "ui/session/session_window.h"
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

} // namespace
} // namespace tavoro::ui
