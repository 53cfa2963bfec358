#pragma once

#include "transport/endpoint.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>

// STUN Binding (RFC 5389) as far as the peer transport and our STUN responder need it.
namespace tavoro::transport::stun {

inline constexpr std::uint32_t kMagicCookie = 0x2112A442;
inline constexpr std::uint16_t kBindingRequest = 0x0001;
inline constexpr std::uint16_t kBindingSuccess = 0x0101;
inline constexpr std::uint16_t kXorMappedAddress = 0x0020;
inline constexpr std::size_t kMessageHeaderSize = 20;
inline constexpr std::size_t kBindingSuccessSize = 32; // header + one XOR-MAPPED-ADDRESS (IPv4)

using TransactionId = std::array<std::uint8_t, 12>;

// The IPv4 endpoint a STUN server saw a request come from.
using MappedAddress = Endpoint;

// 20 bytes: type 0x0001, length 0, the magic cookie, the transaction id; no attributes.
std::array<std::uint8_t, kMessageHeaderSize> makeBindingRequest(const TransactionId& txn);

// The reflexive address from a Binding success response with the expected transaction id: the first
// XOR-MAPPED-ADDRESS (0x0020 or 0x8020) of length at least 8 and family IPv4. Attributes are walked up
// to min(20 + message length, datagram length); an attribute that does not fit makes the whole
// response invalid. Other attributes, MAPPED-ADDRESS included, are skipped.
std::optional<MappedAddress> parseBindingResponse(std::span<const std::uint8_t> bytes, const TransactionId& expected);

// Server side: the transaction id of a well-formed Binding request, else nothing.
std::optional<TransactionId> parseBindingRequest(std::span<const std::uint8_t> bytes);

// Server side: a success response to txn telling the client the address it was seen from.
std::array<std::uint8_t, kBindingSuccessSize> makeBindingSuccess(const TransactionId& txn, const MappedAddress& seenFrom);

} // namespace tavoro::transport::stun
