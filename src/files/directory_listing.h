#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tavoro::files {

class NameCollator;

// One item of a directory as a listing shows it.
struct ListingEntry {
    std::string name;        // valid UTF-8: bytes that are not are shown as U+FFFD
    bool dir = false;        // also true for a link that leads to a directory
    std::int64_t size = 0;   // from the item's attributes; 0 when they cannot be read
    std::int64_t mtime = 0;  // whole seconds since 1970 UTC; 0 when the attributes cannot be read
};

// The visible items of one directory (one level; names starting with "." left out), unsorted. A
// directory that cannot be read lists as empty. Reads the disk; safe from any thread.
std::vector<ListingEntry> readDirectory(const std::string& path);

// Directories before files, each group by name in the collator's order. Pure.
void sortListing(std::vector<ListingEntry>& entries, const NameCollator& collator);

} // namespace tavoro::files
