#include "files/local_browser.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace tavoro::files {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> names(const std::vector<FsEntry>& entries)
{
    std::vector<std::string> found;
    for (const auto& entry : entries) {
        found.push_back(entry.name + (entry.dir ? "/" : ""));
    }
    return found;
}

TEST(LocalBrowser, ListsVisibleItemsDirectoriesFirstAndLinksToDirectoriesAsDirectories)
{
    test::TempDir home;
    const auto& root = home.path();
    fs::create_directory(root / "zeta");
    fs::create_directory(root / "Alpha");
    fs::create_directory(root / ".config");
    fs::create_directory_symlink(root / "zeta", root / "link");
    std::ofstream(root / "b.txt") << "12345";
    std::ofstream(root / "A.txt");
    std::ofstream(root / ".hidden");
    std::ofstream(root / std::string("bad\xff.bin"));
    fs::create_symlink(root / "missing", root / "dangling");

    LocalBrowser browser(root.string() + "/");
    EXPECT_EQ(browser.path.get(), root.string());
    EXPECT_EQ(names(browser.entries.get()),
        (std::vector<std::string>{"Alpha/", "link/", "zeta/", "A.txt", "b.txt", "bad\xEF\xBF\xBD.bin", "dangling"}));
    EXPECT_EQ(browser.entries.get()[4].size, 5);

    browser.open(browser.entries.get()[3]);
    EXPECT_EQ(browser.path.get(), root.string()) << "a file is not opened";
    browser.open(browser.entries.get()[1]);
    EXPECT_EQ(browser.path.get(), (root / "link").string());
    EXPECT_TRUE(browser.entries.get().empty());
    browser.up();
    EXPECT_EQ(browser.path.get(), root.string());
    EXPECT_EQ(browser.entries.get().size(), 7u);
}

TEST(LocalBrowser, UpStopsAtTheRootAndAnUnreadableDirectoryListsEmpty)
{
    EXPECT_EQ(localParent("/"), "/");
    EXPECT_EQ(localParent("/home"), "/");
    EXPECT_EQ(localParent("/home/u/"), "/home");

    LocalBrowser browser("/");
    browser.up();
    EXPECT_EQ(browser.path.get(), "/");

    LocalBrowser missing("/no/such/directory");
    EXPECT_TRUE(missing.entries.get().empty());
}

} // namespace
} // namespace tavoro::files
