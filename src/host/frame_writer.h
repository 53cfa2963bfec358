#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace tavoro::host {

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

} // namespace tavoro::host
