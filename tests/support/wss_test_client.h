#pragma once

#include "core/event_loop.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavoro::test {

// A TLS WebSocket client for tests and benchmarks. It runs on a loop shared by many clients, accepts
// any server certificate, and collects what arrives so that the test thread can wait for it. Every
// method may be called from any thread except the loop's.
class WssTestClient {
public:
    struct Options {
        std::string address = "127.0.0.1"; // IPv4
        std::uint16_t port = 0;
        std::string path = "/ws";
        // When set, text messages go to this callback on the loop thread instead of the inbox.
        std::function<void(std::string_view)> onText;
    };

    struct Connected {
        std::unique_ptr<WssTestClient> client; // absent when the connection or upgrade failed
        int httpStatus = 0;                    // the server's answer to the upgrade request
        std::string error;
    };
    static Connected connect(core::EventLoopThread& loop, Options options,
        std::chrono::milliseconds limit = std::chrono::seconds(10));
    static std::unique_ptr<WssTestClient> connect(core::EventLoopThread& loop, std::uint16_t port);

    ~WssTestClient(); // drops the connection without a closing handshake

    void sendText(std::string text);
    void sendJson(const nlohmann::json& msg);
    void sendBinary(std::vector<std::uint8_t> bytes);

    // The next text message that arrives (parsed; invalid JSON comes as a string value).
    std::optional<nlohmann::json> nextJson(std::chrono::milliseconds limit = std::chrono::seconds(5));
    // The next text message of this type; earlier messages of other types are dropped.
    std::optional<nlohmann::json> nextOfType(const std::string& type,
        std::chrono::milliseconds limit = std::chrono::seconds(5));
    std::optional<std::vector<std::uint8_t>> nextBinary(std::chrono::milliseconds limit = std::chrono::seconds(5));

    // Waits until the server has closed the connection; its close code (0 when none was sent).
    std::optional<int> waitClosed(std::chrono::milliseconds limit = std::chrono::seconds(5));
    // Stops reading (after the message being read now, if any) so that the server sees a slow
    // receiver; resumeReading() picks up again.
    void pauseReading();
    void resumeReading();

    // A closing handshake from this side, waited for.
    void close();
    bool isOpen() const;

    // "hello" with this ID, token and device key (empty: none), then a message to itself that comes
    // back once the server has bound the ID. False when the server answered something else (an
    // "error") or closed.
    bool hello(const std::string& deviceId, const std::string& token = "qxm", const std::string& deviceKey = "");

    struct State;

private:
    explicit WssTestClient(std::shared_ptr<State> state) : state_(std::move(state)) {}
    std::shared_ptr<State> state_;
};

} // namespace tavoro::test
