#pragma once

#include "support/udp_test_socket.h"
#include "transport/datagram.h"

#include <chrono>
#include <string>
#include <vector>

namespace tavoro::test {

// A relay bind for token, padded as the transport sends it.
inline std::vector<std::uint8_t> relayBindDatagram(const std::string& token)
{
    std::vector<std::uint8_t> out(transport::kMaxRelayBindSize);
    out.resize(transport::writeRelayBind(out, std::span(reinterpret_cast<const std::uint8_t*>(token.data()), token.size())));
    return out;
}

// The relay proof that answers a relay challenge: the same payload, kind 10.
inline std::vector<std::uint8_t> relayProofFor(std::vector<std::uint8_t> challenge)
{
    challenge.at(5) = static_cast<std::uint8_t>(transport::Kind::relayProof);
    return challenge;
}

// Binds socket to token at the relay on loopback as a transport does: the bind, then the proof of the
// challenge that answers it. False when no challenge came within `limit`.
inline bool joinRelay(const UdpTestSocket& socket, std::uint16_t relayPort, const std::string& token,
    std::chrono::milliseconds limit = std::chrono::seconds(2))
{
    socket.sendTo(relayPort, relayBindDatagram(token));
    const auto challenge = socket.receive(limit);
    if (!challenge || challenge->bytes.size() < transport::kHeaderSize
        || challenge->bytes[5] != static_cast<std::uint8_t>(transport::Kind::relayChallenge)) {
        return false;
    }
    socket.sendTo(relayPort, relayProofFor(challenge->bytes));
    return true;
}

} // namespace tavoro::test
