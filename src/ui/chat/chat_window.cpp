#include "ui/chat/chat_window.h"

#include "chat/chat_text.h"
#include "ui/chat/composer_edit.h"
#include "ui/logic/chat_window_texts.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSplitter>
#include <QVBoxLayout>

#include <algorithm>

namespace tavoro::ui {
namespace {

constexpr int kPeerRole = Qt::UserRole;

QString qs(const std::string& text) { return QString::fromStdString(text); }

} // namespace

ChatWindow::ChatWindow(app::RemoteController& controller, QWidget* parent) : QWidget(parent), controller_(controller)
{
    setWindowTitle(qs(text::kChatTitle));
    resize(640, 480);
    peers_ = new QListWidget;
    peers_->setObjectName("peers");
    peers_->setSelectionMode(QAbstractItemView::SingleSelection);
    connect(peers_, &QListWidget::itemSelectionChanged, this, [this] {
        showConversation();
        showComposerState();
    });
    auto* splitter = new QSplitter;
    splitter->addWidget(peers_);
    splitter->addWidget(makeConversationPane());
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({160, 480});
    auto* column = new QVBoxLayout(this);
    column->addWidget(splitter);

    auto& chat = controller_.chat();
    peersSubscription_ = chat.peers.subscribe([this](const auto&) { showPeers(); });
    conversationsSubscription_ = chat.conversations.subscribe([this](const auto&) { showConversation(); });
    // Cleared after the announcement is over, so that every listener hears of the mark first.
    unreadSubscription_ = chat.unread.subscribe([this](bool unread) {
        if (unread) {
            QMetaObject::invokeMethod(this, [this] { clearUnreadIfActive(); }, Qt::QueuedConnection);
        }
    });
    sessionWatch_.emplace(controller_, [this] {
        showPeers();
        showConversation();
        showComposerState();
    });
    showPeers();
    showConversation();
    showComposerState();
}

ChatWindow::~ChatWindow() = default;

QWidget* ChatWindow::makeConversationPane()
{
    auto* pane = new QWidget;
    auto* column = new QVBoxLayout(pane);
    column->setContentsMargins(0, 0, 0, 0);
    conversation_ = new QListWidget;
    conversation_->setObjectName("conversation");
    conversation_->setWordWrap(true);
    conversation_->setSelectionMode(QAbstractItemView::NoSelection);
    column->addWidget(conversation_, 1);

    recipientLabel_ = new QLabel;
    recipientLabel_->setObjectName("recipient");
    notice_ = new QLabel;
    notice_->setObjectName("chatNotice");
    notice_->setWordWrap(true);
    notice_->setStyleSheet("color: #c62828;");
    column->addWidget(recipientLabel_);
    column->addWidget(notice_);

    composer_ = new ComposerEdit([this] { send(); });
    composer_->setObjectName("composer");
    composer_->setPlaceholderText(qs(text::kChatPlaceholder));
    composer_->setMaximumHeight(composer_->fontMetrics().lineSpacing() * 5);
    connect(composer_, &QPlainTextEdit::textChanged, this, [this] {
        if (!refusal_.empty()) {
            refusal_.clear();
            showComposerState();
        }
    });
    column->addWidget(composer_);

    auto* buttons = new QHBoxLayout;
    auto* close = new QPushButton(qs(text::kChatClose));
    close->setObjectName("close");
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    send_ = new QPushButton(qs(text::kChatSend));
    send_->setObjectName("send");
    send_->setDefault(true);
    connect(send_, &QPushButton::clicked, this, [this] { send(); });
    buttons->addStretch();
    buttons->addWidget(close);
    buttons->addWidget(send_);
    column->addLayout(buttons);
    return pane;
}

std::optional<std::string> ChatWindow::selectedPeer() const
{
    const auto selected = peers_->selectedItems();
    if (selected.isEmpty()) {
        return std::nullopt;
    }
    return selected.front()->data(kPeerRole).toString().toStdString();
}

std::optional<std::string> ChatWindow::recipient() const
{
    if (auto selected = selectedPeer()) {
        return selected;
    }
    if (auto peer = sessionPeer(controller_); peer && !peer->peerId.empty()) {
        return peer->peerId;
    }
    return std::nullopt;
}

// The session's peer is listed even before the first message, so that it can be picked out.
void ChatWindow::showPeers()
{
    auto peers = controller_.chat().peers.get();
    const auto session = sessionPeer(controller_);
    if (session && !session->peerId.empty() && std::ranges::find(peers, session->peerId) == peers.end()) {
        peers.push_back(session->peerId);
    }
    const auto selected = selectedPeer();
    const QSignalBlocker quiet(peers_);
    peers_->clear();
    for (const auto& peer : peers) {
        auto* item = new QListWidgetItem(qs(text::chatPeerLabel(peer, session && session->peerId == peer)), peers_);
        item->setData(kPeerRole, qs(peer));
        item->setSelected(selected == peer);
    }
}

void ChatWindow::showConversation()
{
    conversation_->clear();
    const auto peer = recipient();
    if (!peer) {
        return;
    }
    const auto all = controller_.chat().conversations.get();
    const auto found = all.find(*peer);
    if (found == all.end()) {
        return;
    }
    for (const auto& message : found->second) {
        auto* item = new QListWidgetItem(qs(message.text), conversation_);
        item->setTextAlignment(message.mine ? Qt::AlignRight | Qt::AlignVCenter : Qt::AlignLeft | Qt::AlignVCenter);
        if (message.mine) {
            item->setForeground(QColor(0x15, 0x65, 0xc0));
        }
    }
    conversation_->scrollToBottom();
}

void ChatWindow::showComposerState()
{
    const auto to = recipient();
    send_->setEnabled(to.has_value());
    recipientLabel_->setText(to ? qs(text::chatRecipientText(*to)) : QString());
    const auto notice = !refusal_.empty() ? qs(refusal_) : to ? QString() : qs(text::kChatNoRecipient);
    notice_->setText(notice);
    notice_->setVisible(!notice.isEmpty());
}

void ChatWindow::send()
{
    const auto to = recipient();
    const auto text = chat::trimDraft(composer_->toPlainText().toStdString());
    if (!to || text.empty()) {
        return;
    }
    const auto session = sessionPeer(controller_);
    if (auto refusal = controller_.chat().send(*to, session ? session->callId : std::string(), text)) {
        refusal_ = *refusal;
        showComposerState();
        return;
    }
    composer_->clear();
}

void ChatWindow::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange) {
        clearUnreadIfActive();
    }
}

void ChatWindow::clearUnreadIfActive()
{
    if (isVisible() && isActiveWindow() && controller_.chat().unread.get()) {
        controller_.openChat();
    }
}

} // namespace tavoro::ui
