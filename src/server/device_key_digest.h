#pragma once

#include <string>
#include <string_view>

// What the server keeps of a device key: never the key itself. Pure functions, any thread.
namespace tavoro::server {

// SHA-256 of the key's text, lower-case hex (64 characters).
std::string deviceKeyDigest(std::string_view key);

// Equal digests, compared in time that does not depend on where they differ.
bool sameDigest(std::string_view a, std::string_view b);

} // namespace tavoro::server
