#include "ui/session/remote_screen_view.h"

#include "platform/qt/video_surface.h"
#include "ui/logic/remote_cursor.h"
#include "ui/session/remote_cursor_arrow.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>

namespace tavoro::ui {
namespace {

MouseButton buttonOf(Qt::MouseButton button)
{
    switch (button) {
    case Qt::LeftButton:
        return MouseButton::left;
    case Qt::RightButton:
        return MouseButton::right;
    case Qt::MiddleButton:
        return MouseButton::middle;
    default:
        return MouseButton::other;
    }
}

Modifiers modifiersOf(Qt::KeyboardModifiers held)
{
    return {held.testFlag(Qt::ShiftModifier), held.testFlag(Qt::ControlModifier), held.testFlag(Qt::AltModifier),
        held.testFlag(Qt::MetaModifier)};
}

PointF pointOf(const QPointF& position) { return {position.x(), position.y()}; }

} // namespace

RemoteScreenView::RemoteScreenView(std::weak_ptr<control::ControlSession> session, core::Scheduler& timers,
    QWidget* parent)
    : QWidget(parent), session_(std::move(session)), surface_(new platform::qt::VideoSurface(this)),
      arrow_(new RemoteCursorArrow(this)),
      input_(timers, [this](nlohmann::json fields) { sendToSession(std::move(fields)); })
{
    setObjectName("remoteScreen");
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    surface_->setObjectName("picture");
    surface_->setAttribute(Qt::WA_TransparentForMouseEvents);
}

RemoteScreenView::~RemoteScreenView() = default;

std::shared_ptr<platform::DisplaySink> RemoteScreenView::sink() const { return surface_->sink(); }

void RemoteScreenView::setRemoteSize(int width, int height)
{
    surface_->setRemoteSize(width, height);
    placeCursor();
}

void RemoteScreenView::setDisplayMode(control::DisplayMode mode)
{
    surface_->setDisplayMode(mode);
    placeCursor();
}

void RemoteScreenView::setRemoteCursor(const std::optional<control::RemoteCursor>& cursor, bool show)
{
    cursor_ = cursor;
    showCursor_ = show;
    placeCursor();
}

void RemoteScreenView::setKeyboardCapture(bool on)
{
    capture_ = on;
    if (on && hasFocus()) {
        grabKeyboard();
    } else if (!on) {
        releaseKeyboard();
    }
}

bool RemoteScreenView::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::ShortcutOverride:
        if (capture_) {
            event->accept(); // the key goes to the host, not to a shortcut of this application
            return true;
        }
        break;
    case QEvent::WindowDeactivate:
        stopReceiving();
        break;
    default:
        break;
    }
    return QWidget::event(event);
}

// Tab and Backtab are keys for the host, not focus moves.
bool RemoteScreenView::focusNextPrevChild(bool) { return false; }

void RemoteScreenView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    surface_->setGeometry(rect());
    placeCursor();
}

void RemoteScreenView::mouseMoveEvent(QMouseEvent* event)
{
    followPicture();
    input_.mouseMoved(pointOf(event->position()));
}

void RemoteScreenView::mousePressEvent(QMouseEvent* event)
{
    followPicture();
    input_.buttonPressed(buttonOf(event->button()), pointOf(event->position()));
}

// The toolkit reports a double click's second press as a double click: to the host it is a press.
void RemoteScreenView::mouseDoubleClickEvent(QMouseEvent* event) { mousePressEvent(event); }

void RemoteScreenView::mouseReleaseEvent(QMouseEvent* event)
{
    followPicture();
    input_.buttonReleased(buttonOf(event->button()), pointOf(event->position()));
}

void RemoteScreenView::wheelEvent(QWheelEvent* event)
{
    input_.wheelTurned(event->angleDelta().x(), event->angleDelta().y());
}

void RemoteScreenView::keyPressEvent(QKeyEvent* event)
{
    input_.keyChanged(event->nativeScanCode(), true, modifiersOf(event->modifiers()));
}

void RemoteScreenView::keyReleaseEvent(QKeyEvent* event)
{
    // A held key repeats as presses only; the toolkit's release between two repeats is not real.
    if (!event->isAutoRepeat()) {
        input_.keyChanged(event->nativeScanCode(), false, modifiersOf(event->modifiers()));
    }
}

void RemoteScreenView::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    if (capture_) {
        grabKeyboard();
    }
}

void RemoteScreenView::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    stopReceiving();
}

void RemoteScreenView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    stopReceiving();
}

void RemoteScreenView::sendToSession(nlohmann::json fields)
{
    if (auto session = session_.lock()) {
        session->sendInput(std::move(fields));
    }
}

void RemoteScreenView::followPicture() { input_.setPicture(surface_->pictureRect()); }

void RemoteScreenView::placeCursor()
{
    arrow_->place(remoteCursorTip(cursor_, showCursor_, surface_->pictureRect()));
}

void RemoteScreenView::stopReceiving()
{
    if (capture_) {
        releaseKeyboard();
    }
    input_.releaseAll();
}

} // namespace tavoro::ui
