#include "ui/session/session_window_manager.h"

#include "ui/logic/session_window_size.h"
#include "ui/logic/session_window_texts.h"
#include "ui/session/session_window.h"

#include <QGuiApplication>
#include <QScreen>

namespace tavoro::ui {
namespace {

std::vector<Rect> applicationScreens()
{
    std::vector<Rect> areas;
    QScreen* primary = QGuiApplication::primaryScreen();
    auto add = [&areas](const QScreen* screen) {
        const QRect area = screen->availableGeometry();
        areas.push_back({area.x(), area.y(), area.width(), area.height()});
    };
    if (primary) {
        add(primary);
    }
    for (const QScreen* screen : QGuiApplication::screens()) {
        if (screen != primary) {
            add(screen);
        }
    }
    return areas;
}

// The screen holding the point, else the first.
const Rect* screenAt(int x, int y, const std::vector<Rect>& screens)
{
    for (const auto& screen : screens) {
        if (x >= screen.x && x < screen.x + screen.width && y >= screen.y && y < screen.y + screen.height) {
            return &screen;
        }
    }
    return screens.empty() ? nullptr : &screens.front();
}

std::optional<Rect> frameFrom(const nlohmann::json& saved)
{
    auto side = [&saved](const char* name) -> std::optional<int> {
        const auto field = saved.find(name);
        if (field == saved.end() || !field->is_number_integer()) {
            return std::nullopt;
        }
        return field->get<int>();
    };
    if (!saved.is_object()) {
        return std::nullopt;
    }
    const auto x = side("x");
    const auto y = side("y");
    const auto w = side("w");
    const auto h = side("h");
    if (!x || !y || !w || !h) {
        return std::nullopt;
    }
    return Rect{*x, *y, *w, *h};
}

// Gives a window whose event may still be on the stack to the event loop to delete.
void retire(std::unique_ptr<SessionWindow> window)
{
    if (window) {
        window.release()->deleteLater();
    }
}

} // namespace

SessionWindowManager::SessionWindowManager(std::weak_ptr<app::RemoteController> controller, core::Scheduler& timers,
    platform::SettingsStore& settings, SessionActions actions, Screens screens)
    : controller_(std::move(controller)), timers_(timers), settings_(settings), actions_(std::move(actions)),
      screens_(std::move(screens))
{
}

SessionWindowManager::~SessionWindowManager()
{
    if (window_) {
        saveFrame();
        window_->closeQuietly();
    }
}

void SessionWindowManager::update(std::shared_ptr<control::ControlSession> session)
{
    if (session && session == session_ && window_) {
        return;
    }
    close();
    if (session) {
        open(std::move(session));
    }
}

void SessionWindowManager::open(std::shared_ptr<control::ControlSession> session)
{
    if (controller_.expired()) {
        return;
    }
    auto* view = new SessionView(controller_, session, timers_, actions_);
    window_ = std::make_unique<SessionWindow>(view, [this] { closedByUser(); });
    session_ = std::move(session);
    window_->setWindowTitle(QString::fromStdString(text::sessionWindowTitle(session_->peerName())));
    window_->setMinimumSize(sessionWindowMinContent.width, sessionWindowMinContent.height);
    hadSavedFrame_ = restoreFrame();
    if (!hadSavedFrame_) {
        centre(sessionWindowInitialContent);
        waitForFirstSize();
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void SessionWindowManager::close()
{
    stopWaiting();
    session_.reset();
    if (window_) {
        saveFrame();
        window_->closeQuietly();
        retire(std::move(window_));
    }
}

void SessionWindowManager::closedByUser()
{
    stopWaiting();
    saveFrame();
    retire(std::move(window_));
    const auto session = std::exchange(session_, nullptr);
    const auto controller = controller_.lock();
    if (controller && session && controller->controlSession() == session) {
        controller->endControl();
    }
}

bool SessionWindowManager::restoreFrame()
{
    const auto stored = settings_.get(text::kSessionFrameName);
    const auto saved = stored ? frameFrom(*stored) : std::nullopt;
    const auto screens = this->screens();
    const auto frame = saved ? frameOnScreens(*saved, screens) : std::nullopt;
    if (!frame) {
        return false;
    }
    window_->setGeometry(frame->x, frame->y, frame->width, frame->height);
    return true;
}

void SessionWindowManager::centre(Size content)
{
    const auto screens = this->screens();
    const QRect current = window_->geometry();
    const Rect* screen = screenAt(current.center().x(), current.center().y(), screens);
    if (!screen) {
        window_->resize(content.width, content.height);
        return;
    }
    const Rect centred{screen->x + (screen->width - content.width) / 2,
        screen->y + (screen->height - content.height) / 2, content.width, content.height};
    const Rect frame = frameOnScreens(centred, std::vector<Rect>{*screen}).value_or(centred);
    window_->setGeometry(frame.x, frame.y, frame.width, frame.height);
}

void SessionWindowManager::waitForFirstSize()
{
    widthSub_ = session_->remoteW.subscribe([this](int) { takeFirstSize(); });
    heightSub_ = session_->remoteH.subscribe([this](int) { takeFirstSize(); });
    takeFirstSize();
}

void SessionWindowManager::takeFirstSize()
{
    const auto screens = this->screens();
    const QRect current = window_->geometry();
    const Rect* screen = screenAt(current.center().x(), current.center().y(), screens);
    const Size available = screen ? Size{screen->width, screen->height} : Size{};
    const auto content = firstContentSize(session_->remoteW.get(), session_->remoteH.get(), available);
    if (!content) {
        return;
    }
    stopWaiting();
    if (!window_->isFullScreen()) {
        centre(*content);
    }
}

void SessionWindowManager::saveFrame()
{
    const QRect frame = window_->isFullScreen() ? window_->normalGeometry() : window_->geometry();
    if (frame.isValid()) {
        settings_.set(text::kSessionFrameName,
            {{"x", frame.x()}, {"y", frame.y()}, {"w", frame.width()}, {"h", frame.height()}});
    }
}

void SessionWindowManager::stopWaiting()
{
    widthSub_.reset();
    heightSub_.reset();
}

std::vector<Rect> SessionWindowManager::screens() const { return screens_ ? screens_() : applicationScreens(); }

} // namespace tavoro::ui
