#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

// Cutting one media frame into chunk datagrams (kind 2). Pure functions, no sockets.
namespace tavoro::transport {

inline constexpr std::size_t kMaxChunks = 65535;
inline constexpr std::size_t kMaxFrameBytes = kMaxChunks * 1100; // 72,088,500

// Chunks a frame of frameBytes needs: 1 for an empty frame, else ceiling(frameBytes / 1100); nothing when
// that exceeds 65535.
std::optional<std::uint16_t> chunkCount(std::size_t frameBytes);

// Writes chunk `index` of `frame` (header and payload) into out, which holds at least 1116 bytes, and
// returns the datagram's length: 16 + min(1100, frame size - 1100 * index).
std::size_t writeChunk(std::span<std::uint8_t> out, std::uint32_t frameId, std::uint16_t index, std::uint16_t count,
    std::span<const std::uint8_t> frame);

} // namespace tavoro::transport
