#pragma once

#include "core/unique_fd.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

namespace tavoro::control {

// "Tavoro-" + local time as yyyyMMdd-HHmmss + extension (".h264", ".png").
std::string mediaFileName(std::chrono::system_clock::time_point when, const std::string& extension);

// A file just created, open for writing.
struct NewMediaFile {
    core::UniqueFd fd;
    std::filesystem::path path;
};

// Creates a new empty file named mediaFileName() in `folder`, never replacing one: a name already taken
// gets "-2", "-3", … before the extension. Nothing when no file could be created. Any thread.
std::optional<NewMediaFile> openUniqueMediaFile(const std::filesystem::path& folder,
    std::chrono::system_clock::time_point when, const std::string& extension);

// As openUniqueMediaFile, closing the file again.
std::optional<std::filesystem::path> createUniqueMediaFile(const std::filesystem::path& folder,
    std::chrono::system_clock::time_point when, const std::string& extension);

// Writes `bytes` to `fd`, continuing after short writes; returns how many were written, fewer than all
// on an error or when nothing more fits.
std::size_t writeAll(int fd, std::span<const std::uint8_t> bytes);

} // namespace tavoro::control
