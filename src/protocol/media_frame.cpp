#include "protocol/media_frame.h"

#include <algorithm>

namespace tavoro::protocol {

namespace {

std::uint32_t readLE32(std::span<const std::uint8_t> bytes)
{
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) {
        value = (value << 8) | bytes[static_cast<std::size_t>(i)];
    }
    return value;
}

} // namespace

void appendLE32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

std::vector<std::uint8_t> buildVideoFrameBody(std::uint32_t width, std::uint32_t height,
    std::span<const std::uint8_t> accessUnit)
{
    std::vector<std::uint8_t> body;
    body.reserve(frameHeaderSize + accessUnit.size());
    body.push_back(static_cast<std::uint8_t>(FrameType::h264));
    appendLE32(body, width);
    appendLE32(body, height);
    body.insert(body.end(), accessUnit.begin(), accessUnit.end());
    return body;
}

std::optional<std::vector<std::uint8_t>> buildRelayMessage(std::string_view peerId,
    std::span<const std::uint8_t> body)
{
    const bool nineDigits = peerId.size() == relayIdSize &&
        std::all_of(peerId.begin(), peerId.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!nineDigits) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> message;
    message.reserve(relayHeaderSize + body.size());
    message.push_back(relayMarker);
    message.insert(message.end(), peerId.begin(), peerId.end());
    message.insert(message.end(), body.begin(), body.end());
    return message;
}

std::optional<FrameBody> parseFrameBody(std::span<const std::uint8_t> body)
{
    if (body.size() < frameHeaderSize) {
        return std::nullopt;
    }
    return FrameBody{body[0], readLE32(body.subspan(1, 4)), readLE32(body.subspan(5, 4)),
        body.subspan(frameHeaderSize)};
}

std::optional<RelayMessage> parseRelayMessage(std::span<const std::uint8_t> message)
{
    if (message.size() <= relayHeaderSize || message[0] != relayMarker) {
        return std::nullopt;
    }
    const auto peer = message.subspan(1, relayIdSize);
    return RelayMessage{std::string_view(reinterpret_cast<const char*>(peer.data()), peer.size()),
        message.subspan(relayHeaderSize)};
}

} // namespace tavoro::protocol
