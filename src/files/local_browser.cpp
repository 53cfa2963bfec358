#include "files/local_browser.h"

#include "files/directory_listing.h"

#include <filesystem>

namespace tavoro::files {
namespace {

// Without "." and ".." components and without a trailing "/" (the root keeps its own).
std::string tidy(const std::string& path)
{
    auto text = std::filesystem::path(path).lexically_normal().string();
    while (text.size() > 1 && text.ends_with('/')) {
        text.pop_back();
    }
    return text.empty() ? "/" : text;
}

} // namespace

std::string localParent(const std::string& path)
{
    return std::filesystem::path(tidy(path)).parent_path().string();
}

LocalBrowser::LocalBrowser(const std::string& home) : path(tidy(home)) { reload(); }

void LocalBrowser::reload()
{
    auto listing = readDirectory(path.get());
    sortListing(listing, collator_);
    entries.set(std::move(listing));
}

void LocalBrowser::open(const FsEntry& entry)
{
    if (!entry.dir) {
        return;
    }
    path.set((std::filesystem::path(path.get()) / entry.name).string());
    reload();
}

void LocalBrowser::up()
{
    auto parent = localParent(path.get());
    if (parent.empty()) {
        return;
    }
    path.set(parent);
    reload();
}

} // namespace tavoro::files
