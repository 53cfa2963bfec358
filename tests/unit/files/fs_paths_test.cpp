#include "files/fs_operations.h"
#include "files/fs_paths.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace tavoro::files {
namespace {

TEST(FsPaths, NormalizesRequestPaths)
{
    const struct {
        const char* given;
        const char* expected;
    } cases[] = {
        {"", "/"},
        {"/", "/"},
        {"//", "/"},
        {"\\", "/"},
        {"/tmp/", "/tmp"},
        {"/tmp//a///b", "/tmp/a/b"},
        {"\\\\server\\share\\dir\\", "/server/share/dir"},
        {"C:\\Users\\me\\", "/C:/Users/me"},
        {"tmp/a", "/tmp/a"},
        {"a\\b/", "/a/b"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(normalizeRequestPath(c.given), c.expected) << "'" << c.given << "'";
    }
}

TEST(FsPaths, LastComponentAndAncestry)
{
    EXPECT_EQ(lastPathComponent("/tmp/a/b.txt"), "b.txt");
    EXPECT_EQ(lastPathComponent("/tmp"), "tmp");
    EXPECT_EQ(lastPathComponent("/"), "");

    EXPECT_TRUE(isSameOrInside("/a", "/a"));
    EXPECT_TRUE(isSameOrInside("/a/b/c", "/a"));
    EXPECT_TRUE(isSameOrInside("/a", "/"));
    EXPECT_FALSE(isSameOrInside("/ab", "/a"));
    EXPECT_FALSE(isSameOrInside("/a", "/a/b"));
}

TEST(FsPaths, TheRootIsRecognisedHoweverSpelt)
{
    test::TempDir dir;
    std::filesystem::create_symlink("/", dir.path() / "up");
    for (const std::string& root : {std::string("/"), normalizeRequestPath("//"), normalizeRequestPath("\\"), normalizeRequestPath(""),
             std::string("/tmp/.."), (dir.path() / "up").string(), (dir.path() / "up/.").string()}) {
        EXPECT_TRUE(isRootPath(root)) << root;
    }
    for (const std::string& other : {std::string("/tmp"), dir.path().string(), std::string("/nonexistent/..x")}) {
        EXPECT_FALSE(isRootPath(other)) << other;
    }
}

} // namespace
} // namespace tavoro::files
