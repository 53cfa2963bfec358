#pragma once

#include "core/json_fields.h"
#include "transport/endpoint.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The candidate lists the two transports exchange as "signal" messages of kind "ice".
namespace tavoro::transport {

inline constexpr std::string_view kIceKind = "ice";

// This side's STUN-reflexive address, as the STUN response gave it.
struct Reflexive {
    std::string address; // dotted quad
    std::uint16_t port = 0;
};

// {"candidates": [{"ip", "port", "type": "host"} per local address, then {"type": "srflx"} when known]}.
json::Json makeAdvertisement(const std::vector<std::string>& localAddresses, std::uint16_t localPort,
    const std::optional<Reflexive>& reflexive);

// The peer's addresses from an "ice" payload, in order, malformed records skipped: "ip" must be
// dotted-quad text (names are not resolved) and "port" an integer (a floating-point number is
// truncated toward zero) from 1 to 65535. Empty for any other kind, an empty payload, or one whose
// "candidates" value is not an array of records.
std::vector<Endpoint> parseCandidates(std::string_view kind, const json::Json& payload);

} // namespace tavoro::transport
