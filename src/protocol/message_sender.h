#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace tavoro::protocol {

// Where a session's messages leave through: the installation's connection to the rendezvous server.
// Both operations are safe from any thread and never block on the network; a message that cannot be
// sent (no connection) is dropped.
class MessageSender {
public:
    virtual ~MessageSender() = default;
    // One JSON text message {payload…, "type": type}.
    virtual void send(const std::string& type, nlohmann::json payload) = 0;
    // One binary message (a relayed media frame).
    virtual void sendBinary(std::vector<std::uint8_t> bytes) = 0;
};

} // namespace tavoro::protocol
