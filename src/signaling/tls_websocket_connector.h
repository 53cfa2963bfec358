#pragma once

#include "signaling/websocket_task.h"

#include <memory>
#include <string>

namespace tavoro::signaling {

// Opens TLS WebSockets with Boost.Beast. By default any server certificate is accepted; with a pinned
// SHA-256 fingerprint (64 lower-case hex digits) every other certificate is refused and the refusal is
// logged. Text and binary messages are limited to 16 MiB on receipt; queued outgoing binary messages
// beyond 8 MiB are dropped (they carry live media, which is worthless once that far behind), text never.
class TlsWebSocketConnector final : public WebSocketConnector {
public:
    explicit TlsWebSocketConnector(std::string pinnedSha256 = {});
    ~TlsWebSocketConnector() override;

    std::shared_ptr<WebSocketTask> create(boost::asio::io_context& loop, const WsUrl& url) override;

    struct Tls;

private:
    std::shared_ptr<Tls> tls_;
};

} // namespace tavoro::signaling
