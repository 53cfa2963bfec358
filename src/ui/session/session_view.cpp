#include "ui/session/session_view.h"

#include "ui/logic/remote_cursor.h"
#include "ui/logic/session_window_size.h"
#include "ui/logic/session_window_texts.h"
#include "ui/session/remote_screen_view.h"

#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QShortcut>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <chrono>

namespace tavoro::ui {
namespace {

constexpr std::chrono::milliseconds kNoticeShown{3000};
constexpr int kSuperKey = 91;

QString qs(const std::string& text) { return QString::fromStdString(text); }
QString qs(const char* text) { return QString::fromUtf8(text); }

} // namespace

SessionView::SessionView(std::weak_ptr<app::RemoteController> controller,
    std::shared_ptr<control::ControlSession> session, core::Scheduler& timers, SessionActions actions, QWidget* parent)
    : QWidget(parent), controller_(std::move(controller)), session_(std::move(session)), actions_(std::move(actions))
{
    setObjectName("sessionView");
    screen_ = new RemoteScreenView(session_, timers);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(makeToolbar());
    column->addWidget(screen_, 1);

    notice_ = new QLabel(this);
    notice_->setObjectName("notice");
    notice_->setAttribute(Qt::WA_TransparentForMouseEvents);
    notice_->setStyleSheet("background: rgba(48, 48, 48, 220); color: white; border-radius: 6px; padding: 6px 12px;");
    notice_->hide();
    noticeTimer_ = new QTimer(this);
    noticeTimer_->setSingleShot(true);
    connect(noticeTimer_, &QTimer::timeout, notice_, &QWidget::hide);

    auto* fullscreenKey = new QShortcut(QKeySequence(Qt::Key_F11), this);
    connect(fullscreenKey, &QShortcut::activated, this, [this] { setFullscreen(!window()->isFullScreen()); });

    follow();
    session_->video().attach(screen_->sink());
    screen_->setFocus();
}

SessionView::~SessionView() = default;

void SessionView::setFullscreen(bool on)
{
    QWidget* frame = window();
    if (frame->isFullScreen() == on) {
        return;
    }
    if (on) {
        frame->showFullScreen();
    } else {
        frame->showNormal();
    }
}

void SessionView::showNotice(const std::string& line)
{
    notice_->setText(qs(line));
    notice_->adjustSize();
    placeNotice();
    notice_->show();
    notice_->raise();
    noticeTimer_->start(kNoticeShown);
}

void SessionView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    placeNotice();
}

void SessionView::placeNotice()
{
    notice_->move((width() - notice_->width()) / 2, sessionToolbarHeight + 16);
}

QWidget* SessionView::makeToolbar()
{
    auto* bar = new QWidget;
    bar->setObjectName("sessionToolbar");
    bar->setFixedHeight(sessionToolbarHeight);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(4, 4, 4, 4);
    row->setSpacing(2);

    controlButton_ = addButton(bar, "control", {}, [this] { toggleControl(); });
    captureButton_ = addButton(bar, "keyboardCapture", qs("接管键盘"), [this] { toggleKeyboardCapture(); });
    captureButton_->setCheckable(true);
    auto* display = addButton(bar, "display", qs("显示"), {});
    display->setMenu(makeDisplayMenu());
    auto* quality = addButton(bar, "quality", qs("画质"), {});
    quality->setMenu(makeQualityMenu());
    soundButton_ = addButton(bar, "sound", {}, [this] { toggleSound(); });
    addButton(bar, "superKey", qs("Super"), [this] { pressSuperKey(); });
    monitorButton_ = addButton(bar, "monitor", {}, [this] { session_->cycleMonitor(); });
    addButton(bar, "files", qs("传输文件"), [this] {
        if (actions_.openFiles) {
            actions_.openFiles(session_);
        } else if (auto controller = controller_.lock()) {
            controller->openFileBrowser();
        }
    });
    auto* chat = addButton(bar, "chat", qs("聊天"), [this] { actions_.openChat(session_); });
    chat->setEnabled(static_cast<bool>(actions_.openChat));
    auto* more = addButton(bar, "more", qs("更多"), {});
    more->setMenu(makeMoreMenu());
    addButton(bar, "disconnect", qs("断开"), [this] { endSession(); });

    status_ = new QLabel;
    status_->setObjectName("statusLine");
    status_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // The status line gives way first when the window narrows.
    status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    row->addWidget(status_, 1);
    return bar;
}

QToolButton* SessionView::addButton(QWidget* bar, const char* objectName, const QString& text,
    std::function<void()> action)
{
    auto* button = new QToolButton;
    bar->layout()->addWidget(button);
    button->setObjectName(objectName);
    button->setText(text);
    // The remote screen keeps the keyboard focus while the toolbar is used.
    button->setFocusPolicy(Qt::NoFocus);
    if (action) {
        connect(button, &QToolButton::clicked, this, std::move(action));
    } else {
        button->setPopupMode(QToolButton::InstantPopup);
    }
    return button;
}

QMenu* SessionView::makeDisplayMenu()
{
    auto* menu = new QMenu(this);
    for (const auto& choice : text::kDisplayChoices) {
        connect(menu->addAction(qs(choice.label)), &QAction::triggered, this, [this, choice] {
            session_->displayMode.set(choice.mode);
            setFullscreen(choice.fullScreen);
        });
    }
    return menu;
}

QMenu* SessionView::makeQualityMenu()
{
    qualityMenu_ = new QMenu(this);
    for (const int mode : text::kQualityModes) {
        connect(qualityMenu_->addAction(QString()), &QAction::triggered, this, [this, mode] { chooseQuality(mode); });
    }
    return qualityMenu_;
}

QMenu* SessionView::makeMoreMenu()
{
    auto* menu = new QMenu(this);
    recordAction_ = menu->addAction(QString());
    connect(recordAction_, &QAction::triggered, this, [this] { toggleRecording(); });
    connect(menu->addAction(qs("截图")), &QAction::triggered, this, [this] { takeScreenshot(); });
    connect(menu->addAction(qs("共享文件夹")), &QAction::triggered, this,
        [this] { showNotice(text::kSharedFolderNotice); });
    return menu;
}

template <typename T>
void SessionView::followField(core::Observable<T>& field, std::function<void()> show)
{
    auto subscription = field.subscribe([show](const T&) { show(); });
    subscriptions_.push_back(std::make_shared<typename core::Observable<T>::Subscription>(std::move(subscription)));
    show();
}

void SessionView::follow()
{
    auto& s = *session_;
    auto remoteSize = [this] {
        screen_->setRemoteSize(session_->remoteW.get(), session_->remoteH.get());
        showStatus();
    };
    followField(s.remoteW, remoteSize);
    followField(s.remoteH, remoteSize);
    followField(s.displayMode, [this] { screen_->setDisplayMode(session_->displayMode.get()); });
    followField(s.remoteCursor, [this] { showCursor(); });
    followField(s.controlKnown, [this] { showCursor(); });
    followField(s.hasControl, [this] {
        showControl();
        showCursor();
    });
    followField(s.audioMuted, [this] { showSound(); });
    followField(s.qualityMode, [this] { showQuality(); });
    followField(s.isRecording, [this] { showRecording(); });
    followField(s.monitorCount, [this] { showMonitors(); });
    followField(s.monitorIndex, [this] { showMonitors(); });
    followField(s.fps, [this] { showStatus(); });
    followField(s.kbps, [this] { showStatus(); });
    followField(s.linkKind, [this] { showStatus(); });
    followField(s.rttMs, [this] { showStatus(); });
}

void SessionView::showControl()
{
    controlButton_->setText(qs(session_->hasControl.get() ? "释放控制" : "请求控制"));
}

void SessionView::showCursor()
{
    screen_->setRemoteCursor(session_->remoteCursor.get(),
        showsRemoteCursor(session_->controlKnown.get(), session_->hasControl.get()));
}

void SessionView::showSound()
{
    const bool muted = session_->audioMuted.get();
    soundButton_->setText(qs(muted ? "🔇" : "🔊"));
    soundButton_->setToolTip(qs(muted ? "远端声音：已静音" : "远端声音：开启"));
}

void SessionView::showQuality()
{
    const auto entries = qualityMenu_->actions();
    for (std::size_t i = 0; i < text::kQualityModes.size(); ++i) {
        entries.at(static_cast<qsizetype>(i))
            ->setText(qs(text::qualityEntry(text::kQualityModes[i], session_->qualityMode.get())));
    }
}

void SessionView::showRecording() { recordAction_->setText(qs(session_->isRecording.get() ? "停止录制" : "录制")); }

void SessionView::showMonitors()
{
    const int count = session_->monitorCount.get();
    monitorButton_->setText(qs("屏幕 " + std::to_string(session_->monitorIndex.get() + 1) + "/" +
        std::to_string(count)));
    monitorButton_->setVisible(count > 1);
}

void SessionView::showStatus() { status_->setText(qs(session_->statusLine())); }

void SessionView::toggleControl()
{
    const bool hadControl = session_->hasControl.get();
    if (hadControl) {
        session_->releaseControl();
    } else {
        session_->requestControl();
    }
    showNotice(text::controlButtonNotice(hadControl));
}

void SessionView::toggleKeyboardCapture()
{
    const bool on = captureButton_->isChecked();
    screen_->setKeyboardCapture(on);
    if (on) {
        screen_->setFocus();
    }
    showNotice(text::keyboardCaptureNotice(on));
}

void SessionView::toggleSound()
{
    const bool muted = !session_->audioMuted.get();
    session_->setAudioMuted(muted);
    showNotice(text::audioNotice(muted));
}

void SessionView::pressSuperKey()
{
    session_->sendKey(kSuperKey, true, false);
    session_->sendKey(kSuperKey, false, false);
}

void SessionView::chooseQuality(int mode)
{
    session_->sendQuality(mode);
    showNotice(text::qualityNotice(mode));
}

void SessionView::toggleRecording() { showNotice(session_->toggleRecording()); }

void SessionView::takeScreenshot() { showNotice(session_->screenshot()); }

void SessionView::endSession()
{
    if (auto controller = controller_.lock()) {
        controller->endControl();
    }
}

} // namespace tavoro::ui
