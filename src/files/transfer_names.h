#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Names of the files a transfer writes. Pure functions, safe from any thread.
namespace tavoro::files {

// The name a received file is stored under: only the last path component of what the sender named
// (split on "/" and "\"); "", ".", "..", and names holding a NUL byte become "download.bin".
std::string receivedFileName(std::string_view announced);

// Where the partly received content of `name` is kept when its transfer fails.
std::string partFileName(const std::string& name);

// The hidden file a transfer writes into before it is renamed to `name`.
std::string temporaryFileName(const std::string& name, std::int64_t transferId);

// The last path component of a local path (for the name announced to the receiver).
std::string sentFileName(std::string_view path);

} // namespace tavoro::files
