#include "transport/stun.h"

#include "transport/datagram.h"

#include <algorithm>

namespace tavoro::transport::stun {
namespace {

void writeMessageHeader(std::span<std::uint8_t> out, std::uint16_t type, std::uint16_t length, const TransactionId& txn)
{
    putU16(out, 0, type);
    putU16(out, 2, length);
    putU32(out, 4, kMagicCookie);
    std::copy(txn.begin(), txn.end(), out.begin() + 8);
}

bool sameTransaction(std::span<const std::uint8_t> bytes, const TransactionId& txn)
{
    return std::equal(txn.begin(), txn.end(), bytes.begin() + 8);
}

} // namespace

std::array<std::uint8_t, kMessageHeaderSize> makeBindingRequest(const TransactionId& txn)
{
    std::array<std::uint8_t, kMessageHeaderSize> out{};
    writeMessageHeader(out, kBindingRequest, 0, txn);
    return out;
}

std::optional<MappedAddress> parseBindingResponse(std::span<const std::uint8_t> bytes, const TransactionId& expected)
{
    if (bytes.size() < kMessageHeaderSize || !sameTransaction(bytes, expected)) {
        return std::nullopt;
    }
    const std::size_t end = std::min<std::size_t>(kMessageHeaderSize + u16(bytes, 2), bytes.size());
    std::size_t at = kMessageHeaderSize;
    while (at < end) {
        if (at + 4 > end) {
            return std::nullopt;
        }
        const std::uint16_t type = u16(bytes, at);
        const std::uint16_t length = u16(bytes, at + 2);
        if (at + 4 + length > end) {
            return std::nullopt;
        }
        const auto value = bytes.subspan(at + 4, length);
        if ((type | 0x8000) == 0x8020 && length >= 8 && value[1] == 0x01) {
            return MappedAddress{u32(value, 4) ^ kMagicCookie, static_cast<std::uint16_t>(u16(value, 2) ^ 0x2112)};
        }
        at += 4 + ((length + 3u) & ~3u);
    }
    return std::nullopt;
}

std::optional<TransactionId> parseBindingRequest(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < kMessageHeaderSize || u16(bytes, 0) != kBindingRequest || u32(bytes, 4) != kMagicCookie) {
        return std::nullopt;
    }
    const std::uint16_t length = u16(bytes, 2);
    if (length % 4 != 0 || kMessageHeaderSize + length > bytes.size()) {
        return std::nullopt;
    }
    TransactionId txn{};
    std::copy_n(bytes.begin() + 8, txn.size(), txn.begin());
    return txn;
}

std::array<std::uint8_t, kBindingSuccessSize> makeBindingSuccess(const TransactionId& txn, const MappedAddress& seenFrom)
{
    std::array<std::uint8_t, kBindingSuccessSize> out{};
    writeMessageHeader(out, kBindingSuccess, 12, txn);
    putU16(out, 20, kXorMappedAddress);
    putU16(out, 22, 8);
    out[24] = 0;
    out[25] = 0x01; // IPv4
    putU16(out, 26, static_cast<std::uint16_t>(seenFrom.port ^ 0x2112));
    putU32(out, 28, seenFrom.address ^ kMagicCookie);
    return out;
}

} // namespace tavoro::transport::stun
