#pragma once

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tavoro::test {

// A TLS WebSocket server on 127.0.0.1 (port 0) with a fresh self-signed certificate, for tests of the
// signaling client. It records what each connection sends and lets the test answer, close or drop
// connections, stop listening and listen again on the same port. Runs its own thread; every method is
// safe from the test thread. Connections are numbered 0, 1, … in the order they were accepted.
class WsTestServer {
public:
    WsTestServer();
    ~WsTestServer();
    WsTestServer(const WsTestServer&) = delete;
    WsTestServer& operator=(const WsTestServer&) = delete;

    std::uint16_t port() const;
    std::string address() const; // "127.0.0.1:PORT"
    std::string url() const;     // "wss://127.0.0.1:PORT/ws"
    std::string fingerprint() const;

    // Sends every text message straight back to its sender.
    void setEcho(bool echo);

    int connectionCount() const;
    std::vector<std::string> texts(int connection) const;
    std::vector<nlohmann::json> messages(int connection) const; // the texts that parse as JSON
    std::vector<std::vector<std::uint8_t>> binaries(int connection) const;
    bool waitForTexts(int connection, std::size_t count, std::chrono::milliseconds limit = std::chrono::seconds(10)) const;

    void sendText(int connection, const std::string& text);
    void sendBinary(int connection, const std::vector<std::uint8_t>& bytes);
    void close(int connection, std::uint16_t code);
    // Stops accepting and drops every connection without a close frame; listen() starts again.
    void stopListening();
    void listen();

    struct Impl;

private:
    std::shared_ptr<Impl> impl_;
};

} // namespace tavoro::test
