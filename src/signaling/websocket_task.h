#pragma once

#include "signaling/ws_url.h"

#include <boost/asio/io_context.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tavoro::signaling {

// One WebSocket connection attempt, from connecting to its loss. Its events are delivered on the
// thread that runs the io_context it was made for (the signaling queue); the loss is reported once,
// either as onClose (the peer's close code) or as onError (a description).
class WebSocketTask {
public:
    struct Events {
        std::function<void()> onOpen;
        std::function<void(std::string text)> onText;
        std::function<void(std::vector<std::uint8_t> bytes)> onBinary;
        std::function<void(int closeCode)> onClose;
        std::function<void(std::string description)> onError;
    };

    virtual ~WebSocketTask() = default;
    // Starts connecting. Called once, after the owner has stored the task.
    virtual void start(Events events) = 0;
    // Any thread. Messages go out in call order, after the connection opens.
    virtual void sendText(std::string text) = 0;
    virtual void sendBinary(std::vector<std::uint8_t> bytes) = 0;
    // Any thread. Bytes of the messages handed to sendText and sendBinary that are not yet written to
    // the socket, and bytes written (or dropped) so far; both count message payloads only.
    virtual std::uint64_t unsentBytes() const = 0;
    virtual std::uint64_t writtenBytes() const = 0;
    // Any thread. Closes with the code (or drops a connection that is not open yet). No event follows.
    virtual void cancel(std::uint16_t closeCode) = 0;
    // Any thread. Sends what is queued, then closes with the code; done runs on the task's thread once
    // the connection is closed (at most about 2 s later). No other event follows.
    virtual void finish(std::uint16_t closeCode, std::function<void()> done) = 0;
};

// Makes tasks for an endpoint on a given io_context.
class WebSocketConnector {
public:
    virtual ~WebSocketConnector() = default;
    virtual std::shared_ptr<WebSocketTask> create(boost::asio::io_context& loop, const WsUrl& url) = 0;
};

} // namespace tavoro::signaling
