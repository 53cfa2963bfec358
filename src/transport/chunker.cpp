#include "transport/chunker.h"

#include "transport/datagram.h"

#include <algorithm>

namespace tavoro::transport {

std::optional<std::uint16_t> chunkCount(std::size_t frameBytes)
{
    if (frameBytes > kMaxFrameBytes) {
        return std::nullopt;
    }
    if (frameBytes == 0) {
        return 1;
    }
    return static_cast<std::uint16_t>((frameBytes + kMaxChunkPayload - 1) / kMaxChunkPayload);
}

std::size_t writeChunk(std::span<std::uint8_t> out, std::uint32_t frameId, std::uint16_t index, std::uint16_t count,
    std::span<const std::uint8_t> frame)
{
    const std::size_t begin = std::size_t{index} * kMaxChunkPayload;
    const std::size_t length = begin < frame.size() ? std::min(kMaxChunkPayload, frame.size() - begin) : 0;
    writeHeader(out, Header{static_cast<std::uint8_t>(Kind::chunk), frameId, index, count,
                         static_cast<std::uint16_t>(length)});
    std::copy_n(frame.begin() + static_cast<std::ptrdiff_t>(begin), length, out.begin() + kHeaderSize);
    return kHeaderSize + length;
}

} // namespace tavoro::transport
