#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

// The peer transport's own datagrams: a 16-byte big-endian header ("AURP", version, kind, frame id,
// chunk index, chunk count, payload length) and its payload. Pure functions, no sockets.
namespace tavoro::transport {

inline constexpr std::uint32_t kMagic = 0x41555250; // "AURP"
inline constexpr std::uint8_t kVersion = 1;
inline constexpr std::size_t kHeaderSize = 16;
inline constexpr std::size_t kMaxChunkPayload = 1100;
inline constexpr std::size_t kMaxDatagram = kHeaderSize + kMaxChunkPayload; // 1116
inline constexpr std::size_t kPingSize = 20;
inline constexpr std::size_t kMaxRelayTokenBytes = 80;
inline constexpr std::size_t kRelayNonceBytes = 16;
// The largest relay challenge or proof (header, nonce, longest token), and the largest relay bind,
// which is padded to the size of the challenge that may answer it.
inline constexpr std::size_t kMaxRelayChallengeSize = kHeaderSize + kRelayNonceBytes + kMaxRelayTokenBytes;
inline constexpr std::size_t kMaxRelayBindSize = kMaxRelayChallengeSize;

enum class Kind : std::uint8_t {
    ping = 0,
    pong = 1,
    chunk = 2,
    input = 3,
    relayBind = 8,
    relayChallenge = 9, // relay to peer: a nonce that the peer must echo to prove it receives there
    relayProof = 10,    // peer to relay: the challenge's payload, echoed
};

using RelayNonce = std::array<std::uint8_t, kRelayNonceBytes>;

struct Header {
    std::uint8_t kind = 0; // low 7 bits of the kind byte
    std::uint32_t frameId = 0;
    std::uint16_t chunkIndex = 0;
    std::uint16_t chunkCount = 1;
    std::uint16_t payloadLength = 0;
};

void putU16(std::span<std::uint8_t> out, std::size_t at, std::uint16_t value);
void putU32(std::span<std::uint8_t> out, std::size_t at, std::uint32_t value);
std::uint16_t u16(std::span<const std::uint8_t> in, std::size_t at);
std::uint32_t u32(std::span<const std::uint8_t> in, std::size_t at);

// Writes the header into the first 16 bytes of out (which must hold at least 16), high kind bit clear.
void writeHeader(std::span<std::uint8_t> out, const Header& header);

// A transport datagram and its payload: the header must be whole, carry the magic and version 1, and
// its payload length must fit the datagram (bytes beyond it are ignored).
struct Datagram {
    Header header;
    std::span<const std::uint8_t> payload;
};
std::optional<Datagram> parseDatagram(std::span<const std::uint8_t> bytes);

// Whether a received datagram is a STUN Binding success response (checked before anything else).
bool isStunSuccessResponse(std::span<const std::uint8_t> bytes);

enum class DatagramClass { stunResponse, transport, junk };
DatagramClass classify(std::span<const std::uint8_t> bytes);

// Ping and pong: 20 bytes, the id in the header's frame id and again as the 4-byte payload.
std::array<std::uint8_t, kPingSize> makePingOrPong(Kind kind, std::uint32_t id);

// Relay bind: kind 8 with the token as payload, followed by 16 zero bytes beyond the payload, so that
// the relay's challenge is never larger than the bind it answers. Empty when the token is empty or
// longer than 80 bytes. Returns the number of bytes written into out (which must hold
// kMaxRelayBindSize bytes).
std::size_t writeRelayBind(std::span<std::uint8_t> out, std::span<const std::uint8_t> token);

// Relay challenge (kind 9) and relay proof (kind 10): frame id 0, payload the 16-byte nonce followed by
// the token being bound. Empty when the token is empty or longer than 80 bytes. Returns the number of
// bytes written into out (which must hold kMaxRelayChallengeSize bytes).
std::size_t writeRelayChallenge(std::span<std::uint8_t> out, Kind kind, const RelayNonce& nonce,
    std::span<const std::uint8_t> token);
struct RelayChallenge {
    RelayNonce nonce;
    std::span<const std::uint8_t> token;
};
// The nonce and token of a challenge or proof: the payload holds the nonce and 1 to 80 token bytes.
std::optional<RelayChallenge> parseRelayChallenge(const Datagram& datagram);

} // namespace tavoro::transport
