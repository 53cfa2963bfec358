#pragma once

#include "core/unique_fd.h"

#include <openssl/ssl.h>

#include <cstdint>
#include <memory>
#include <string>

// A WebSocket client for load generation that costs far less CPU than the server it loads, so that on
// a machine shared with the server the figures show the server: blocking OpenSSL straight on the
// socket, a window of messages written as one TLS record, and messages counted by their frame headers
// without being parsed. Client frames carry the all-zero mask, so a frame is its own masked form.
// One thread uses a client at a time.
namespace tavoro::bench {

class LightClient {
public:
    // Connects to 127.0.0.1:port, upgrades to a WebSocket on "/ws" and says "hello" as deviceId;
    // null when any step fails.
    static std::unique_ptr<LightClient> connect(SSL_CTX* context, std::uint16_t port, const std::string& deviceId);

    // Sends `count` copies of text in one TLS record.
    bool sendRepeated(const std::string& text, int count);
    // Reads until `count` messages have come; false when the connection fails.
    bool receive(int count);

    struct SslFree {
        void operator()(SSL* ssl) const { SSL_free(ssl); }
        void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
    };
    using Context = std::unique_ptr<SSL_CTX, SslFree>;
    // Client-side TLS context that accepts any certificate (loopback only).
    static Context makeContext();

private:
    LightClient(core::UniqueFd fd, std::unique_ptr<SSL, SslFree> ssl) : fd_(std::move(fd)), ssl_(std::move(ssl)) {}
    bool writeAll(const std::string& bytes);
    // Parses the complete frames in pending_; returns how many there were.
    int takeFrames();
    bool receiveUntil(const std::string& marker);

    core::UniqueFd fd_;
    std::unique_ptr<SSL, SslFree> ssl_;
    std::string pending_; // bytes read but not yet a complete frame
};

} // namespace tavoro::bench
