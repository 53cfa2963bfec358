#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace tavoro::platform {

// Replaces path with data so that a crash at any moment leaves either the old or the new contents:
// the data goes to a temporary file beside it, is flushed to disk, and is renamed over path.
// Returns an empty string on success, else a description of what failed (path is then unchanged).
// beforeRename runs between the flush and the rename; tests use it to stand for a crash there.
std::string writeFileAtomically(const std::filesystem::path& path, std::string_view data,
    const std::function<void()>& beforeRename = {});

} // namespace tavoro::platform
