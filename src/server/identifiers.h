#pragma once

#include "platform/secure_random.h"

#include <string>
#include <string_view>

// The shapes of the names the server deals in, and the secrets it makes.
namespace tavoro::server {

// Exactly nine ASCII digits.
bool isDeviceId(std::string_view text);

// A phone alias as installations bind it: eleven digits, optionally followed by ':' and a
// distinguishing suffix of digits and colons; at most 32 characters in all.
bool isPhoneAlias(std::string_view text);

// The phone number of an alias: the part before the first ':'.
std::string phoneNumberOf(std::string_view alias);

// A device key as installations send it: 43 characters from the URL-safe Base64 alphabet (32
// random bytes, no padding).
bool isDeviceKey(std::string_view text);

// A relay token: 24 characters from the URL-safe Base64 alphabet (144 random bits).
std::string makeRelayToken(platform::SecureRandom& random);

// A six-digit SMS code, uniformly drawn, leading zeros kept.
std::string makeSmsCode(platform::SecureRandom& random);

// How deeply arrays and objects nest in a JSON text (0 for a scalar), counted without parsing.
std::size_t jsonNestingDepth(std::string_view text);

} // namespace tavoro::server
