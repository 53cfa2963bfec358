#pragma once

#include <cstdint>
#include <string>

namespace tavoro::files {

// One item of a directory as a listing shows it, on either side of a session.
struct FsEntry {
    std::string name;        // valid UTF-8; unique within its directory
    bool dir = false;        // also true for a link that leads to a directory
    std::int64_t size = 0;   // bytes, from the item's attributes; 0 when they cannot be read
    std::int64_t mtime = 0;  // whole seconds since 1970 UTC; 0 when the attributes cannot be read

    bool operator==(const FsEntry&) const = default;
};

} // namespace tavoro::files
