#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

// The media frame body (what a host sends a controller for every encoded access unit) and the relay
// message that carries one through the signaling server. Pure functions, callable from any thread.
namespace tavoro::protocol {

// Media frame types; this host only writes H.264 video.
enum class FrameType : std::uint8_t { picture = 0x01, h264 = 0x02, tile = 0x03, audio = 0x10 };

constexpr std::size_t frameHeaderSize = 9;
constexpr std::uint8_t relayMarker = 0xFE;
constexpr std::size_t relayIdSize = 9;
constexpr std::size_t relayHeaderSize = 1 + relayIdSize;

// Appends a 32-bit value least significant byte first.
void appendLE32(std::vector<std::uint8_t>& out, std::uint32_t value);

// The frame body of one access unit: 0x02, width and height little-endian, then the access unit.
// Built with exactly the capacity it needs.
std::vector<std::uint8_t> buildVideoFrameBody(std::uint32_t width, std::uint32_t height,
    std::span<const std::uint8_t> accessUnit);

// The relay message that carries a frame body through the signaling server to one controller:
// 0xFE, the controller's nine-digit device ID in ASCII, then the body. Nothing when the ID is not
// nine digits, since the receiver skips exactly ten bytes and another length would corrupt the frame.
std::optional<std::vector<std::uint8_t>> buildRelayMessage(std::string_view peerId,
    std::span<const std::uint8_t> body);

// A frame body split into its fields. The type is left as it arrived: unknown types are the caller's to
// ignore. For audio (0x10), width and height hold the audio header bytes read the same way. The payload
// views the parsed bytes and may be empty.
struct FrameBody {
    std::uint8_t type;
    std::uint32_t width;
    std::uint32_t height;
    std::span<const std::uint8_t> payload;
};

// Nothing when the body is shorter than its header.
std::optional<FrameBody> parseFrameBody(std::span<const std::uint8_t> body);

// A relay message split into the nine destination ID bytes (not checked to be digits) and the frame
// body; both view the parsed bytes.
struct RelayMessage {
    std::string_view peer;
    std::span<const std::uint8_t> body;
};

// Nothing unless the message starts with the relay marker and carries at least one body byte.
std::optional<RelayMessage> parseRelayMessage(std::span<const std::uint8_t> message);

} // namespace tavoro::protocol
