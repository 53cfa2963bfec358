#pragma once

#include "core/event_loop.h"
#include "core/scheduler.h"
#include "protocol/message_sender.h"
#include "signaling/websocket_task.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tavoro::signaling {

// The installation's one connection to the rendezvous server: numbers and sends JSON text messages,
// introduces itself with "hello" and "register" on every open, hands every incoming message to its
// owner, and reconnects with backoff (1, 2, 4, 8, 15, 15 … s) for as long as the process lives.
//
// Threads: Signaling owns the signaling queue, one Asio thread ("tavoro.signal"). Every task event and
// the four callbacks run there. send(), trySend(), sendBinary(), connected(), connectionNumber(),
// unsentBytes(), writtenBytes() and setRegistration() are safe from any thread; start() and
// forceReconnect() too. Reconnect timers run on the main scheduler given at
// construction. The callbacks are set before start() and never change afterwards.
// Locks: seqLock_ guards seq_ and orders sends; stateMutex_ guards task_, urlStr_, deviceId_,
// deviceKey_, token_, phone_, smsAuth_ and backoff_; connected_, wantConnected_ and connectionNumber_ are
// atomics. seqLock_ is taken before
// stateMutex_, never the other way round.
// Destruction stops the signaling thread first, so no callback runs once the destructor has begun;
// it must not run on the signaling thread itself.
class Signaling final : public protocol::MessageSender {
public:
    static constexpr const char* kVersion = "0.58.20";
    static constexpr const char* kOs = "linux";

    Signaling(std::shared_ptr<WebSocketConnector> connector, core::Scheduler& mainScheduler);
    ~Signaling() override;
    Signaling(const Signaling&) = delete;
    Signaling& operator=(const Signaling&) = delete;

    std::function<void(const std::string& type, const nlohmann::json& message)> onText;
    std::function<void(const std::vector<std::uint8_t>& bytes)> onBinary;
    std::function<void()> onOpen;
    std::function<void(const std::string& reason)> onClose;

    // Sets the endpoint and the introduction, marks the connection wanted and opens the socket.
    // deviceKey is the installation's secret that proves to the server that the ID is its own (sent
    // in "hello" as "device_key"; empty: not sent).
    void start(std::string url, std::string deviceId, std::string token, std::string deviceKey);

    // Sends {payload…, "type": type, "seq": n}. Dropped silently when payload is not an object, when it
    // cannot be serialised, or when there is no socket.
    void send(const std::string& type, nlohmann::json payload = nlohmann::json::object()) override;
    // Like send(), and true when the message was handed to an open connection. A message handed over
    // is still lost if that connection is lost before writing it; connectionNumber() then changes.
    bool trySend(const std::string& type, nlohmann::json payload);
    void sendBinary(std::vector<std::uint8_t> bytes) override;
    void sendHello();
    void sendRegister();

    // The phone alias (empty = none) and SMS flag announced by the next "register".
    void setRegistration(std::string phone, bool smsAuth);

    // Stops reconnecting, sends what is queued and closes the connection (code 1000), waiting at most
    // `limit`. For the program's exit; not from the signaling thread.
    void shutdown(std::chrono::milliseconds limit);

    // Drops the current socket (close code 1001) and opens a new one at once; backoff back to 1 s.
    void forceReconnect();

    bool connected() const { return connected_.load(); }
    // Changes whenever a connection opens, is lost or is dropped for a new one.
    std::uint64_t connectionNumber() const { return connectionNumber_.load(); }
    // The current socket's bytes queued and not yet written, and written so far (0 without a socket).
    std::uint64_t unsentBytes() const;
    std::uint64_t writtenBytes() const;
    bool wantConnected() const { return wantConnected_.load(); }
    // The delay before the next reconnect attempt.
    std::chrono::milliseconds nextBackoff() const;

private:
    void openSocket();
    void scheduleReconnect();
    WebSocketTask::Events eventsFor(const std::shared_ptr<WebSocketTask>& task);
    bool isCurrent(const std::weak_ptr<WebSocketTask>& task) const;
    void opened();
    void received(const std::string& text);
    void lost(const std::string& reason);

    std::shared_ptr<WebSocketConnector> connector_;
    core::Scheduler& mainScheduler_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0); // timers hold it weakly

    std::mutex seqLock_;
    std::int64_t seq_ = 1;

    mutable std::mutex stateMutex_;
    std::shared_ptr<WebSocketTask> task_;
    std::string urlStr_;
    std::string deviceId_;
    std::string deviceKey_;
    std::string token_;
    std::string phone_;
    bool smsAuth_ = false;
    double backoff_ = 1.0;

    std::atomic<bool> wantConnected_{false};
    std::atomic<bool> connected_{false};
    std::atomic<std::uint64_t> connectionNumber_{0};

    core::EventLoopThread loop_{"tavoro.signal"}; // last: stopped before anything above is destroyed
};

} // namespace tavoro::signaling
