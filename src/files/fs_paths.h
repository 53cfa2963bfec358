#pragma once

#include <string>
#include <string_view>

// Rules for the paths a peer names in its file requests. Pure functions, safe from any thread.
namespace tavoro::files {

// Backslashes become "/", runs of "/" collapse to one, one trailing "/" is dropped, and a path that
// is not absolute is taken from "/" (never from the process's working folder): "" and "\" are "/",
// "tmp/a/" is "/tmp/a".
std::string normalizeRequestPath(std::string_view path);

// The text after the last "/" of a normalised path; "" for "/".
std::string lastPathComponent(std::string_view normalizedPath);

// True when `path` is `ancestor` or lies below it, comparing whole components ("/ab" is not below
// "/a"). Both are normalised, absolute paths.
bool isSameOrInside(std::string_view path, std::string_view ancestor);

} // namespace tavoro::files
