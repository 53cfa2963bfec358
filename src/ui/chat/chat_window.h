#pragma once

#include "app/remote_controller.h"
#include "chat/chat_store.h"
#include "core/observable.h"
#include "ui/session_peer.h"

#include <QWidget>

#include <optional>
#include <string>
#include <vector>

class QLabel;
class QListWidget;
class QPushButton;

namespace tavoro::ui {

class ComposerEdit;

// The chat window ("消息"): the peers with a conversation (the running session's peer marked, and
// listed even before its first message), the conversation of the selected peer — or of the session's
// peer while none is selected — and the composer. A message goes to the selected peer, else to the
// session's peer. The composer's text is cleared only by a send that went out: with no one to send
// to, sending is disabled and the text stays; a text the chat refuses stays with the reason shown.
// While the window is shown and active, arriving messages leave no unread mark.
//
// Threads: GUI thread only (the controller's main thread). The controller must outlive the window.
class ChatWindow final : public QWidget {
public:
    explicit ChatWindow(app::RemoteController& controller, QWidget* parent = nullptr);
    ~ChatWindow() override;

protected:
    void changeEvent(QEvent* event) override;

private:
    QWidget* makeConversationPane();
    std::optional<std::string> selectedPeer() const;
    // Where a message goes now: the selected peer, else the session's; none without either.
    std::optional<std::string> recipient() const;
    void showPeers();
    void showConversation();
    void showComposerState();
    void send();
    void clearUnreadIfActive();

    app::RemoteController& controller_;
    QListWidget* peers_ = nullptr;
    QListWidget* conversation_ = nullptr;
    QLabel* recipientLabel_ = nullptr;
    QLabel* notice_ = nullptr;
    ComposerEdit* composer_ = nullptr;
    QPushButton* send_ = nullptr;
    std::string refusal_; // why the chat did not take the composer's text; cleared when the text changes
    core::Observable<std::vector<std::string>>::Subscription peersSubscription_;
    core::Observable<chat::Conversations>::Subscription conversationsSubscription_;
    core::Observable<bool>::Subscription unreadSubscription_;
    std::optional<SessionPeerWatch> sessionWatch_;
};

} // namespace tavoro::ui
