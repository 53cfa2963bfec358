#pragma once

#include "signaling/websocket_task.h"

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace tavoro::test {

// A WebSocket task whose events the test fires by hand, on its own thread. Records the texts sent.
class FakeWebSocketTask final : public signaling::WebSocketTask {
public:
    void start(Events events) override
    {
        std::lock_guard lock(mutex_);
        events_ = std::move(events);
    }
    void sendText(std::string text) override
    {
        std::lock_guard lock(mutex_);
        texts_.push_back(std::move(text));
    }
    void sendBinary(std::vector<std::uint8_t>) override {}
    std::uint64_t unsentBytes() const override { return unsent_.load(); }
    std::uint64_t writtenBytes() const override { return written_.load(); }
    // The socket's progress as the test wants it seen.
    void setProgress(std::uint64_t unsent, std::uint64_t written)
    {
        unsent_ = unsent;
        written_ = written;
    }
    void cancel(std::uint16_t closeCode) override
    {
        std::lock_guard lock(mutex_);
        cancelCode_ = closeCode;
    }
    void finish(std::uint16_t closeCode, std::function<void()> done) override
    {
        cancel(closeCode);
        done();
    }

    void fireOpen() { events().onOpen(); }
    void fireText(const std::string& text) { events().onText(text); }
    void fireBinary(std::vector<std::uint8_t> bytes) { events().onBinary(std::move(bytes)); }
    void fireClose(int code) { events().onClose(code); }
    void fireError(const std::string& description) { events().onError(description); }

    std::vector<std::string> texts() const
    {
        std::lock_guard lock(mutex_);
        return texts_;
    }
    int cancelCode() const
    {
        std::lock_guard lock(mutex_);
        return cancelCode_;
    }

private:
    Events events() const
    {
        std::lock_guard lock(mutex_);
        return events_;
    }

    mutable std::mutex mutex_; // guards everything below
    Events events_;
    std::vector<std::string> texts_;
    int cancelCode_ = -1;
    std::atomic<std::uint64_t> unsent_{0};
    std::atomic<std::uint64_t> written_{0};
};

// Hands out fake tasks and keeps them for the test.
class FakeWebSocketConnector final : public signaling::WebSocketConnector {
public:
    std::shared_ptr<signaling::WebSocketTask> create(boost::asio::io_context&, const signaling::WsUrl&) override
    {
        auto task = std::make_shared<FakeWebSocketTask>();
        std::lock_guard lock(mutex_);
        tasks_.push_back(task);
        return task;
    }
    std::size_t count() const
    {
        std::lock_guard lock(mutex_);
        return tasks_.size();
    }
    std::shared_ptr<FakeWebSocketTask> task(std::size_t index) const
    {
        std::lock_guard lock(mutex_);
        return tasks_.at(index);
    }
    std::shared_ptr<FakeWebSocketTask> last() const
    {
        std::lock_guard lock(mutex_);
        return tasks_.back();
    }

private:
    mutable std::mutex mutex_; // guards tasks_
    std::vector<std::shared_ptr<FakeWebSocketTask>> tasks_;
};

} // namespace tavoro::test
