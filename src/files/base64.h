#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Standard Base64 (RFC 4648 alphabet, "=" padding, no line breaks). Safe from any thread.
namespace tavoro::files {

std::string encodeBase64(std::span<const std::uint8_t> bytes);

// The decoded bytes, or nullopt when the text is not padded standard Base64 (wrong length, a
// character outside the alphabet, misplaced "=", whitespace).
std::optional<std::vector<std::uint8_t>> decodeBase64(std::string_view text);

} // namespace tavoro::files
