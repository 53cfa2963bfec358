#include "files/fs_operations.h"

#include "files/fs_paths.h"

#include <fcntl.h>
#include <stdio.h>

#include <cerrno>
#include <filesystem>

namespace tavoro::files {
namespace fs = std::filesystem;
namespace {

// The path with links, "." and ".." resolved as far as it exists; the path itself when that fails.
std::string resolved(const std::string& path)
{
    std::error_code ec;
    auto real = fs::weakly_canonical(path, ec);
    return ec ? path : real.string();
}

bool occupied(const fs::path& path)
{
    std::error_code ec;
    return fs::symlink_status(path, ec).type() != fs::file_type::not_found && !ec;
}

} // namespace

bool isRootPath(const std::string& path) { return path == "/" || resolved(path) == "/"; }

void makeDirectories(const std::string& path)
{
    std::error_code ec;
    fs::create_directories(path, ec);
}

void removeItems(const std::vector<std::string>& paths)
{
    for (const auto& path : paths) {
        if (isRootPath(path)) {
            continue;
        }
        std::error_code ec;
        fs::remove_all(path, ec);
    }
}

void renameItem(const std::string& oldPath, const std::string& newPath)
{
    if (::renameat2(AT_FDCWD, oldPath.c_str(), AT_FDCWD, newPath.c_str(), RENAME_NOREPLACE) == 0 ||
        errno != EINVAL) {
        return;
    }
    // A file system that cannot refuse to replace: check first.
    if (!occupied(newPath)) {
        std::error_code ec;
        fs::rename(oldPath, newPath, ec);
    }
}

void copyItems(const std::vector<std::string>& srcs, const std::string& dstDir)
{
    for (const auto& src : srcs) {
        if (isRootPath(src)) {
            continue;
        }
        fs::path target = fs::path(dstDir) / lastPathComponent(src);
        if (occupied(target) || isSameOrInside(resolved(target.string()), resolved(src))) {
            continue;
        }
        std::error_code ec;
        fs::copy(src, target, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
    }
}

} // namespace tavoro::files
