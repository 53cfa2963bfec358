#pragma once

#include <string>
#include <string_view>

namespace tavoro::files {

// The text unchanged when it is valid UTF-8; otherwise every byte that does not belong to a valid
// sequence (stray continuation bytes, truncated or overlong sequences, surrogates, values above
// U+10FFFF) is replaced by U+FFFD. Pure, safe from any thread.
std::string toValidUtf8(std::string_view text);

} // namespace tavoro::files
