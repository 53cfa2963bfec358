#include "transport/datagram.h"

#include <algorithm>
#include <cstring>

namespace tavoro::transport {

void putU16(std::span<std::uint8_t> out, std::size_t at, std::uint16_t value)
{
    out[at] = static_cast<std::uint8_t>(value >> 8);
    out[at + 1] = static_cast<std::uint8_t>(value);
}

void putU32(std::span<std::uint8_t> out, std::size_t at, std::uint32_t value)
{
    out[at] = static_cast<std::uint8_t>(value >> 24);
    out[at + 1] = static_cast<std::uint8_t>(value >> 16);
    out[at + 2] = static_cast<std::uint8_t>(value >> 8);
    out[at + 3] = static_cast<std::uint8_t>(value);
}

std::uint16_t u16(std::span<const std::uint8_t> in, std::size_t at)
{
    return static_cast<std::uint16_t>((in[at] << 8) | in[at + 1]);
}

std::uint32_t u32(std::span<const std::uint8_t> in, std::size_t at)
{
    return (std::uint32_t{in[at]} << 24) | (std::uint32_t{in[at + 1]} << 16) | (std::uint32_t{in[at + 2]} << 8)
        | std::uint32_t{in[at + 3]};
}

void writeHeader(std::span<std::uint8_t> out, const Header& header)
{
    putU32(out, 0, kMagic);
    out[4] = kVersion;
    out[5] = static_cast<std::uint8_t>(header.kind & 0x7F);
    putU32(out, 6, header.frameId);
    putU16(out, 10, header.chunkIndex);
    putU16(out, 12, header.chunkCount);
    putU16(out, 14, header.payloadLength);
}

std::optional<Datagram> parseDatagram(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < kHeaderSize || u32(bytes, 0) != kMagic || bytes[4] != kVersion) {
        return std::nullopt;
    }
    Header header;
    header.kind = bytes[5] & 0x7F;
    header.frameId = u32(bytes, 6);
    header.chunkIndex = u16(bytes, 10);
    header.chunkCount = u16(bytes, 12);
    header.payloadLength = u16(bytes, 14);
    if (kHeaderSize + header.payloadLength > bytes.size()) {
        return std::nullopt;
    }
    return Datagram{header, bytes.subspan(kHeaderSize, header.payloadLength)};
}

bool isStunSuccessResponse(std::span<const std::uint8_t> bytes)
{
    return bytes.size() >= 20 && u16(bytes, 0) == 0x0101 && u32(bytes, 4) == 0x2112A442;
}

DatagramClass classify(std::span<const std::uint8_t> bytes)
{
    if (isStunSuccessResponse(bytes)) {
        return DatagramClass::stunResponse;
    }
    return parseDatagram(bytes) ? DatagramClass::transport : DatagramClass::junk;
}

std::array<std::uint8_t, kPingSize> makePingOrPong(Kind kind, std::uint32_t id)
{
    std::array<std::uint8_t, kPingSize> out{};
    writeHeader(out, Header{static_cast<std::uint8_t>(kind), id, 0, 1, 4});
    putU32(out, kHeaderSize, id);
    return out;
}

std::size_t writeRelayBind(std::span<std::uint8_t> out, std::span<const std::uint8_t> token)
{
    if (token.empty() || token.size() > kMaxRelayTokenBytes) {
        return 0;
    }
    writeHeader(out, Header{static_cast<std::uint8_t>(Kind::relayBind), 0, 0, 1,
                         static_cast<std::uint16_t>(token.size())});
    std::copy(token.begin(), token.end(), out.begin() + kHeaderSize);
    std::fill_n(out.begin() + kHeaderSize + token.size(), kRelayNonceBytes, 0);
    return kHeaderSize + token.size() + kRelayNonceBytes;
}

std::size_t writeRelayChallenge(std::span<std::uint8_t> out, Kind kind, const RelayNonce& nonce,
    std::span<const std::uint8_t> token)
{
    if (token.empty() || token.size() > kMaxRelayTokenBytes) {
        return 0;
    }
    const std::size_t payload = kRelayNonceBytes + token.size();
    writeHeader(out, Header{static_cast<std::uint8_t>(kind), 0, 0, 1, static_cast<std::uint16_t>(payload)});
    std::copy(nonce.begin(), nonce.end(), out.begin() + kHeaderSize);
    std::copy(token.begin(), token.end(), out.begin() + kHeaderSize + kRelayNonceBytes);
    return kHeaderSize + payload;
}

std::optional<RelayChallenge> parseRelayChallenge(const Datagram& datagram)
{
    const auto payload = datagram.payload;
    if (payload.size() <= kRelayNonceBytes || payload.size() > kRelayNonceBytes + kMaxRelayTokenBytes) {
        return std::nullopt;
    }
    RelayChallenge challenge;
    std::copy_n(payload.begin(), kRelayNonceBytes, challenge.nonce.begin());
    challenge.token = payload.subspan(kRelayNonceBytes);
    return challenge;
}

} // namespace tavoro::transport
