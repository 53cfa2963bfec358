#pragma once

#include "platform/secure_random.h"

#include <string>
#include <string_view>
#include <vector>

// The rules for device IDs and keys, passwords, phone aliases, call targets and the dialled-peer history.
// Pure functions, callable from any thread.
namespace tavoro::app {

inline constexpr std::size_t kPeerHistoryLimit = 20;

// Exactly nine characters, all decimal digits.
bool isValidStoredDeviceId(std::string_view id);
// Uniform over 100000000 … 999999999.
std::string makeDeviceId(platform::SecureRandom& random);
// 32 random bytes in URL-safe Base64 without padding: 43 characters.
std::string makeDeviceKey(platform::SecureRandom& random);
// Exactly 43 characters of the URL-safe Base64 alphabet.
bool isValidStoredDeviceKey(std::string_view key);
// "123 456 789" for a nine-character ID; anything else unchanged.
std::string formatId(std::string_view id);
// Four characters from "0123456789abcdef", each drawn uniformly.
std::string makeTempPassword(platform::SecureRandom& random);
// Spaces and tabs removed from both ends (newlines kept).
std::string trimSpacesAndTabs(std::string_view text);
// Only the decimal digits and colons of the input, in order.
std::string phoneCharacters(std::string_view input);
// The number part of a phone alias (before the first colon) has exactly 11 characters.
bool hasElevenDigitNumber(std::string_view alias);
// A device ID (9 digits), anything with a colon, or an 11-digit phone number.
bool isValidTarget(std::string_view target);
// A target the SMS code request accepts: a colon anywhere, or exactly 11 digits.
bool isSmsTarget(std::string_view target);
// peer moved (or added) to the front, duplicates removed, at most 20 entries.
std::vector<std::string> withPeerFirst(std::vector<std::string> history, const std::string& peer);

} // namespace tavoro::app
