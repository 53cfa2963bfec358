#pragma once

#include <string>
#include <vector>

// The changes a peer may ask of the local file system. Every path is a normalised request path.
// Failures (missing item, no permission, existing target) are swallowed: the requester sees the
// outcome in its next listing. Each call blocks on the disk for as long as the work takes; safe from
// any thread.
namespace tavoro::files {

// Creates the directory and every missing parent; an existing directory is fine.
void makeDirectories(const std::string& path);

// Whether a path names the root folder, however spelt (links, "." and ".." resolved as far as they exist).
bool isRootPath(const std::string& path);

// Removes each item, a directory with everything in it. "/" (however spelt) is never removed.
void removeItems(const std::vector<std::string>& paths);

// Moves the item; never replaces an existing one at the new path.
void renameItem(const std::string& oldPath, const std::string& newPath);

// Copies each item (a directory with everything in it) into dstDir under its own last path
// component. A copy whose target exists, of "/", or into the item's own subtree is not made.
void copyItems(const std::vector<std::string>& srcs, const std::string& dstDir);

} // namespace tavoro::files
