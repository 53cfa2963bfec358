#include "signaling/signaling.h"

#include "core/json_fields.h"

#include <algorithm>
#include <future>

namespace tavoro::signaling {

Signaling::Signaling(std::shared_ptr<WebSocketConnector> connector, core::Scheduler& mainScheduler)
    : connector_(std::move(connector)), mainScheduler_(mainScheduler)
{
}

Signaling::~Signaling()
{
    loop_.stop();
    // The socket must go while its io_context still exists.
    std::lock_guard lock(stateMutex_);
    task_.reset();
}

void Signaling::start(std::string url, std::string deviceId, std::string token, std::string deviceKey)
{
    {
        std::lock_guard lock(stateMutex_);
        urlStr_ = std::move(url);
        deviceId_ = std::move(deviceId);
        token_ = std::move(token);
        deviceKey_ = std::move(deviceKey);
    }
    wantConnected_ = true;
    openSocket();
}

void Signaling::send(const std::string& type, nlohmann::json payload)
{
    trySend(type, std::move(payload));
}

bool Signaling::trySend(const std::string& type, nlohmann::json payload)
{
    if (!payload.is_object()) {
        return false;
    }
    payload["type"] = type;
    std::lock_guard seqLock(seqLock_);
    payload["seq"] = seq_++;
    auto text = json::dump(payload);
    std::shared_ptr<WebSocketTask> task;
    {
        std::lock_guard lock(stateMutex_);
        task = task_;
    }
    if (!text || !task) {
        return false;
    }
    const bool live = connected_.load();
    task->sendText(std::move(*text)); // still under seqLock_: numbering and sending order agree
    return live;
}

std::uint64_t Signaling::unsentBytes() const
{
    std::lock_guard lock(stateMutex_);
    return task_ ? task_->unsentBytes() : 0;
}

std::uint64_t Signaling::writtenBytes() const
{
    std::lock_guard lock(stateMutex_);
    return task_ ? task_->writtenBytes() : 0;
}

void Signaling::shutdown(std::chrono::milliseconds limit)
{
    wantConnected_ = false;
    std::shared_ptr<WebSocketTask> task;
    {
        std::lock_guard lock(stateMutex_);
        task = task_;
    }
    if (!task) {
        return;
    }
    auto closed = std::make_shared<std::promise<void>>();
    auto waiting = closed->get_future();
    task->finish(1000, [closed] { closed->set_value(); });
    waiting.wait_for(limit);
}

void Signaling::sendBinary(std::vector<std::uint8_t> bytes)
{
    std::shared_ptr<WebSocketTask> task;
    {
        std::lock_guard lock(stateMutex_);
        task = task_;
    }
    if (task) {
        task->sendBinary(std::move(bytes));
    }
}

void Signaling::sendHello()
{
    nlohmann::json hello;
    {
        std::lock_guard lock(stateMutex_);
        hello = {{"device_id", deviceId_}, {"token", token_}, {"role", "client"}, {"version", kVersion}, {"os", kOs}};
        if (!deviceKey_.empty()) {
            hello["device_key"] = deviceKey_;
        }
    }
    send("hello", std::move(hello));
}

void Signaling::sendRegister()
{
    nlohmann::json reg = {{"visible", true}, {"password_hash", ""}, {"salt", ""}};
    {
        std::lock_guard lock(stateMutex_);
        if (!phone_.empty()) {
            reg["phone"] = phone_;
            reg["sms_auth"] = smsAuth_;
        }
    }
    send("register", std::move(reg));
}

void Signaling::setRegistration(std::string phone, bool smsAuth)
{
    std::lock_guard lock(stateMutex_);
    phone_ = std::move(phone);
    smsAuth_ = smsAuth;
}

std::chrono::milliseconds Signaling::nextBackoff() const
{
    std::lock_guard lock(stateMutex_);
    return std::chrono::milliseconds(static_cast<std::int64_t>(backoff_ * 1000));
}

void Signaling::openSocket()
{
    std::shared_ptr<WebSocketTask> task;
    {
        std::lock_guard lock(stateMutex_);
        auto url = parseWsUrl(urlStr_);
        if (!url) {
            return;
        }
        task = connector_->create(loop_.context(), *url);
        task_ = task;
    }
    // Started only once it is the current task, so that none of its events can be taken for stale.
    task->start(eventsFor(task));
}

void Signaling::forceReconnect()
{
    if (!wantConnected_) {
        return;
    }
    std::shared_ptr<WebSocketTask> old;
    {
        std::lock_guard lock(stateMutex_);
        backoff_ = 1.0;
        old = std::move(task_);
    }
    connected_ = false;
    ++connectionNumber_;
    if (old) {
        old->cancel(1001);
    }
    openSocket();
}

WebSocketTask::Events Signaling::eventsFor(const std::shared_ptr<WebSocketTask>& task)
{
    std::weak_ptr<WebSocketTask> weakTask = task;
    WebSocketTask::Events events;
    events.onOpen = [this, weakTask] {
        if (isCurrent(weakTask)) {
            opened();
        }
    };
    events.onText = [this, weakTask](std::string text) {
        if (isCurrent(weakTask)) {
            received(text);
        }
    };
    events.onBinary = [this, weakTask](std::vector<std::uint8_t> bytes) {
        if (isCurrent(weakTask) && onBinary) {
            onBinary(bytes);
        }
    };
    events.onClose = [this, weakTask](int code) {
        if (isCurrent(weakTask)) {
            lost("closed " + std::to_string(code));
        }
    };
    events.onError = [this, weakTask](std::string description) {
        if (isCurrent(weakTask)) {
            lost(description);
        }
    };
    return events;
}

bool Signaling::isCurrent(const std::weak_ptr<WebSocketTask>& task) const
{
    auto strong = task.lock();
    std::lock_guard lock(stateMutex_);
    return strong && strong == task_;
}

void Signaling::opened()
{
    connected_ = true;
    ++connectionNumber_;
    std::string token;
    {
        std::lock_guard lock(stateMutex_);
        backoff_ = 1.0;
        token = token_;
    }
    sendHello();
    if (!token.empty()) {
        sendRegister();
    }
    if (onOpen) {
        onOpen();
    }
}

void Signaling::received(const std::string& text)
{
    auto message = json::parse(text);
    if (!message || !message->is_object()) {
        return;
    }
    if (onText) {
        onText(json::stringField(*message, "type"), *message);
    }
}

void Signaling::lost(const std::string& reason)
{
    connected_ = false;
    ++connectionNumber_;
    if (onClose) {
        onClose(reason);
    }
    scheduleReconnect();
}

void Signaling::scheduleReconnect()
{
    if (!wantConnected_) {
        return;
    }
    double delay = 0;
    {
        std::lock_guard lock(stateMutex_);
        delay = backoff_;
        backoff_ = std::min(2 * delay, 15.0);
    }
    std::weak_ptr<int> alive = alive_;
    mainScheduler_.after(std::chrono::milliseconds(static_cast<std::int64_t>(delay * 1000)), [this, alive] {
        if (!alive.expired() && wantConnected_ && !connected_) {
            openSocket();
        }
    });
}

} // namespace tavoro::signaling
