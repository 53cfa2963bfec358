#pragma once

#include "core/result.h"

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace tavoro::platform {

// Replaces path with data so that a crash at any moment leaves either the old or the new contents:
// the data goes to a temporary file beside it, is flushed to disk, and is renamed over path.
// On failure the description says what failed, and path is unchanged.
// beforeRename runs between the flush and the rename; tests use it to stand for a crash there.
Result<> writeFileAtomically(const std::filesystem::path& path, std::string_view data,
    const std::function<void()>& beforeRename = {});

} // namespace tavoro::platform
