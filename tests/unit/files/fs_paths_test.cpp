#include "files/fs_paths.h"

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

} // namespace
} // namespace tavoro::files
