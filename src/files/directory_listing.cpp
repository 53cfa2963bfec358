#include "files/directory_listing.h"

#include "files/name_collator.h"
#include "files/utf8_text.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

namespace tavoro::files {
namespace {

FsEntry describe(const std::filesystem::path& item)
{
    FsEntry entry;
    entry.name = toValidUtf8(item.filename().native());
    struct stat attributes {};
    if (::stat(item.c_str(), &attributes) == 0) { // follows links: a link to a directory is one
        entry.dir = S_ISDIR(attributes.st_mode);
        entry.size = attributes.st_size;
        entry.mtime = attributes.st_mtim.tv_sec;
    }
    return entry;
}

} // namespace

std::vector<FsEntry> readDirectory(const std::string& path)
{
    std::vector<FsEntry> entries;
    std::error_code ec;
    std::filesystem::directory_iterator it(path, ec);
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        const auto& item = it->path();
        if (item.filename().native().starts_with('.')) {
            continue;
        }
        entries.push_back(describe(item));
    }
    return entries;
}

void sortListing(std::vector<FsEntry>& entries, const NameCollator& collator)
{
    std::stable_sort(entries.begin(), entries.end(), [&](const FsEntry& a, const FsEntry& b) {
        if (a.dir != b.dir) {
            return a.dir;
        }
        return collator.less(a.name, b.name);
    });
}

} // namespace tavoro::files
