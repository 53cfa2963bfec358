#pragma once

#include "app/call_admission.h"
#include "chat/chat_store.h"
#include "control/control_session.h"
#include "core/clock.h"
#include "core/main_queue.h"
#include "core/observable.h"
#include "core/scheduler.h"
#include "core/serial_queue.h"
#include "files/remote_browser.h"
#include "files/file_transfer_manager.h"
#include "files/remote_fs_server.h"
#include "files/signaling_transfer_channel.h"
#include "host/host_session.h"
#include "platform/pasteboard.h"
#include "platform/secure_random.h"
#include "platform/settings_store.h"
#include "signaling/message_router.h"
#include "signaling/signaling.h"
#include "transport/stun_servers.h"

#include <atomic>
#include <mutex>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace tavoro::app {

// Where the installation finds its rendezvous server and STUN servers, and the application access token.
struct Deployment {
    std::string serverUrl = "wss://127.0.0.1:8443/ws";
    std::string token = "qxm";
    std::vector<transport::StunServer> stunServers = transport::defaultStunServers();
};

// The platform services the application model stands on.
struct Services {
    core::MainQueue& mainQueue;
    core::Scheduler& mainScheduler;       // timers that fire on the main queue
    core::Scheduler& backgroundScheduler; // timers on the shared background queue (core::BackgroundQueue)
    platform::SettingsStore& settings;
    platform::Pasteboard& pasteboard;
    platform::SecureRandom& random;
    std::shared_ptr<const core::Clock> clock; // monotonic time
    core::WallClock& wallClock;
    std::shared_ptr<signaling::WebSocketConnector> connector;
    host::HostMedia* hostMedia = nullptr;     // what hosting stands on; without it every call is refused
    control::ControlMedia* controlMedia = nullptr; // what controlling stands on; without it no call is placed
    // Whether the session's controller may browse and change this computer's files.
    bool fileService = true;
    // Where those file requests are carried out; null: on a thread of the controller's own.
    core::SerialQueue* fileWorker = nullptr;
    // The user's folders (received files go to Downloads); without them no file is sent or received.
    const platform::UserFolders* userFolders = nullptr;
};

// The single application model: identity, credentials, persisted settings, the signaling connection
// and the status line. The user interface reads the observable fields and calls the operations.
//
// Threads: observable fields are written and announced on the main thread only. Operations may be
// called from any thread unless marked "main thread"; those that publish state post to the main queue
// when not already on it. Signaling callbacks (onText, onWsOpen, onWsClose) run on the signaling queue.
// A peer's file requests are carried out on the file worker, never on the signaling queue.
// Made with create() so that posted work can hold the controller weakly; when the controller is
// destroyed the file worker stops first (finishing its task in flight), then the signaling connection,
// before anything else.
class RemoteController : public std::enable_shared_from_this<RemoteController> {
public:
    static std::shared_ptr<RemoteController> create(Services services, Deployment deployment);
    ~RemoteController();

    // Published state.
    core::Observable<std::string> status;
    core::Observable<std::string> deviceId;
    core::Observable<std::string> tempPassword;
    core::Observable<std::string> hostPeerName;
    // The hosted session as the user interface shows it; the signaling queue holds the one that counts.
    core::Observable<std::shared_ptr<host::HostSession>> host;
    // The outgoing session as the user interface shows it; the signaling queue holds the one that counts.
    core::Observable<std::shared_ptr<control::ControlSession>> control;
    core::Observable<int> permission;
    core::Observable<int> idMode;
    core::Observable<int> pwMode;
    core::Observable<std::string> phoneAlias;
    core::Observable<std::string> phoneId;
    core::Observable<int> smsCooldown;
    core::Observable<bool> online;
    core::Observable<std::vector<std::string>> recentPeers;
    // The model of the file window's remote pane, replaced each time the window is opened.
    core::Observable<std::shared_ptr<files::RemoteBrowser>> remoteBrowser;

    // Loads or makes the identity and opens the signaling connection. Main thread, once; later calls
    // do nothing.
    void start();

    std::string formattedId() const;
    void copyId();
    void setPassword(const std::string& input);
    void refreshPassword();
    void setPwMode(int mode);          // main thread
    void setIdMode(int mode);          // main thread
    void bindPhone(const std::string& input); // main thread
    void setPermission(int value);     // main thread
    void requestSmsCode(const std::string& phone);
    void startSmsCountdown(int seconds);  // main thread
    void cancelSmsCountdown();            // main thread
    std::string newCallId() const;
    void pushPeerHistory(const std::string& peer);
    std::string onlineStatus() const;
    void setStatus(const std::string& text);
    // Calls a peer (a device ID or phone alias) with a password or SMS code in a mode ("control",
    // "view", "file"); while the connection is down the call waits for it. Main thread.
    void connectToPeer(const std::string& peer, const std::string& password, const std::string& mode);
    // The user ends the outgoing session (the host gets "bye") or gives up the call waiting for the
    // connection. Any thread.
    void endControl();
    // Whether the call lost with the connection will be placed again once it is back. Any thread.
    bool redialPending() const;
    // The running outgoing session, from the moment the host accepted. Any thread.
    std::shared_ptr<control::ControlSession> controlSession() const;
    // The user ends the hosted session: every controller gets "bye". Any thread.
    void endHost();
    // Whether a hosted session is running (the one that counts, not the published copy). Any thread.
    bool hosting() const { return hostSession() != nullptr; }
    // The file transfers to and from session peers. Only when Services gave the user's folders.
    files::FileTransferManager& transfers() { return *transfers_; }
    // Files the session's host sends may land in this folder, as this installation asked with "fs_get"
    // (any other folder it names is replaced by Downloads). Any thread.
    void allowDownloadsInto(const std::filesystem::path& dir);
    // Opens the file window on the other side of the running session (the outgoing one first): makes
    // remoteBrowser and lists the peer's root. Without a session only the status line says so. Any
    // thread; the work is done on the main thread.
    void openFileBrowser();

    // The signaling connection (for the sessions, which send through it).
    signaling::Signaling& signaling() { return *sig_; }
    // The conversations with peers, made with the signaling connection; lives as long as the controller.
    chat::ChatStore& chat() { return *chat_; }
    // The user opens the chat: the chat store's unread mark is cleared. Any thread.
    void openChat() { chat_->clearUnread(); }

    // Signaling callbacks; public so that tests can stand in for the connection.
    void onText(const std::string& type, const nlohmann::json& message);
    void onWsOpen();
    void onWsClose();

private:
    // After a server restart the host may register a moment after the controller redials: the redial
    // is tried again every half second, for up to ten seconds, before "offline" counts.
    static constexpr int kRedialOfflineRetries = 20;

    RemoteController(Services services, Deployment deployment);
    void loadSettings();
    void attachSignaling();
    void createFileService();
    signaling::MessageRoutes makeRoutes();
    void registrationRefresh();
    std::string getOrMakeDeviceId();
    // The secret that proves to the server that deviceId is this installation's own ("device_key").
    std::string getOrMakeDeviceKey();
    std::string loadPassword();
    void storePassword(const std::string& password);
    void handleRegisterReply(const nlohmann::json& message);
    void handleSmsCodeResp();
    void handleServerError(const std::string& text);
    void handleClipboardText(const std::string& text, const std::string& from);
    bool isSessionPeer(const std::string& peerId) const;
    bool mayUseFiles(const std::string& peerId) const;
    bool mayReceiveFilesFrom(const std::string& peerId) const;
    std::filesystem::path downloadFolderFor(const std::string& from, const std::string& destDir) const;
    void createTransfers();
    void handleFsListResp(const std::string& path, const nlohmann::json::array_t& entries, const std::string& from);

    // Controlling (signaling queue unless noted).
    void doCall(); // any thread
    bool takeOfflineRetry();
    void retryRedial(); // main thread
    void handleCallResponse(const nlohmann::json& message);
    void startControlSession(const nlohmann::json& message, const std::string& peerName, const std::string& target);
    void handleBinary(const std::vector<std::uint8_t>& bytes);
    bool handleControlBye(const std::string& from, const std::string& reason);
    void sayByeToLostSession(); // signaling queue, on open
    void closeControlOnDisconnect();
    std::shared_ptr<control::ControlSession> replaceControlSession(std::shared_ptr<control::ControlSession> session);

    // Hosting (signaling queue unless noted).
    void handleIncomingCall(const nlohmann::json& message);
    void refuseCall(const IncomingCall& call, const std::string& reason);
    void acceptCall(const IncomingCall& call);
    void attachToRunningSession(host::HostSession& session, const IncomingCall& call);
    void startHostSession(const IncomingCall& call);
    void handleBye(const std::string& from, const std::string& reason);
    void handleHostInput(const nlohmann::json& message, const std::string& from);
    void handleSignal(const std::string& kind, const nlohmann::json* payload, const std::string& from);
    void closeHostedSessionOnDisconnect();
    void endHostSession(const std::shared_ptr<host::HostSession>& expected, bool sendBye); // any thread
    std::shared_ptr<host::HostSession> hostSession() const;                               // any thread
    std::shared_ptr<host::HostSession> replaceHostSession(std::shared_ptr<host::HostSession> session);

    // Runs fn on the main thread with the controller, if it still exists then.
    template <typename Fn>
    void onMain(Fn fn);
    template <typename T>
    void publish(core::Observable<T>& field, T value);

    Services services_;
    Deployment deployment_;
    signaling::MessageRoutes routes_;
    std::atomic<bool> started_{false};
    std::atomic<bool> awaitingSmsCode_{false};
    std::unique_ptr<core::RepeatingTimer> smsTimer_; // main thread only
    PasswordGuard passwordGuard_;                    // signaling queue only
    // The call being placed: what the user asked for, whether it waits for the connection, and the
    // call ID of the "call" sent (empty when no answer is awaited).
    struct PendingCall {
        std::string peer;
        std::string password;
        std::string mode = "control";
        bool redialOnConnect = false;
        // A redial after the lost connection finds the host not back yet: it is tried again this many
        // more times before the refusal counts.
        int offlineRetries = 0;
        bool retryDue = false; // a retry is scheduled; cleared when the user places or ends a call
        std::string awaitedCallId;
        // The session the lost connection ended, while the host may still be streaming to it: told
        // "bye" once connected again, unless the same call is placed anew (which replaces it).
        std::optional<std::pair<std::string, std::string>> lostSession; // peer ID, call ID
    };
    mutable std::mutex callMutex_;                   // guards pending_ and control_
    PendingCall pending_;
    std::shared_ptr<control::ControlSession> control_; // the outgoing session that counts
    mutable std::mutex hostMutex_;                   // guards host_
    std::shared_ptr<host::HostSession> host_;        // the hosted session that counts
    std::unique_ptr<signaling::Signaling> sig_;     // reset first in the destructor: its thread stops first
    std::shared_ptr<chat::ChatStore> chat_;         // sends through *sig_
    std::unique_ptr<core::SerialQueue> ownFileWorker_; // when Services gives no file worker
    std::unique_ptr<files::RemoteFsServer> fsServer_;  // null when the file service is off; sends through *sig_
    std::unique_ptr<core::SerialQueue> transferWorker_; // "tavoro.filexfer": outgoing files are read and sent there
    std::unique_ptr<files::SignalingTransferChannel> transferChannel_;
    std::unique_ptr<files::FileTransferManager> transfers_; // null without the user's folders
    mutable std::mutex downloadDirsMutex_;                 // guards downloadDirs_
    std::set<std::filesystem::path> downloadDirs_;         // where this installation asked for files
};

// The "wss://HOST:PORT/ws" endpoint for a "HOST[:PORT]" server address (port 8443 when absent; IPv6
// hosts in brackets). Empty when the address is malformed.
std::string serverUrlFor(const std::string& address);

} // namespace tavoro::app

namespace tavoro::app {

template <typename Fn>
void RemoteController::onMain(Fn fn)
{
    std::weak_ptr<RemoteController> weak = weak_from_this();
    services_.mainQueue.runOrPost([weak, fn = std::move(fn)]() mutable {
        if (auto self = weak.lock()) {
            fn(*self);
        }
    });
}

template <typename T>
void RemoteController::publish(core::Observable<T>& field, T value)
{
    onMain([&field, value = std::move(value)](RemoteController&) mutable { field.set(std::move(value)); });
}

} // namespace tavoro::app
