#pragma once

#include <string>
#include <string_view>

// Paths on the peer's side of a session, which may be "/"-separated or Windows-style ("C:\Users").
// Pure functions, safe from any thread.
namespace tavoro::files {

// "\" when the path holds a backslash or starts with a drive ("C:"), else "/".
char remoteSeparator(std::string_view path);

// The name alone under the empty path (the peer's root); else the directory and the name with one
// separator between them.
std::string joinRemotePath(std::string_view directory, std::string_view name);

// Everything before the last separator; "" (the peer's root) when there is none or nothing stands
// before it.
std::string remoteParent(std::string_view path);

} // namespace tavoro::files
