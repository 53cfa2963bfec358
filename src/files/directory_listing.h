#pragma once

#include "files/fs_entry.h"

#include <string>
#include <vector>

namespace tavoro::files {

class NameCollator;

// The visible items of one directory (one level; names starting with "." left out), unsorted. A
// directory that cannot be read lists as empty. Reads the disk; safe from any thread.
std::vector<FsEntry> readDirectory(const std::string& path);

// Directories before files, each group by name in the collator's order. Pure.
void sortListing(std::vector<FsEntry>& entries, const NameCollator& collator);

} // namespace tavoro::files
