#include "files/remote_paths.h"
#include "files/size_text.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace tavoro::files {
namespace {

TEST(RemotePaths, SeparatorJoinAndParentFollowThePeersStyle)
{
    struct Row {
        const char* path;
        char separator;
        const char* joinedWithA;
        const char* parent;
    };
    const Row rows[] = {
        {"", '/', "a.txt", ""},
        {"/", '/', "/a.txt", ""},
        {"/home/u", '/', "/home/u/a.txt", "/home"},
        {"/home", '/', "/home/a.txt", ""},
        {"/home/u/", '/', "/home/u/a.txt", "/home/u"},
        {"C:\\Users", '\\', "C:\\Users\\a.txt", "C:"},
        {"C:", '\\', "C:\\a.txt", ""},
        {"C:\\", '\\', "C:\\a.txt", "C:"},
        {"d:/data", '\\', "d:/data\\a.txt", ""},
        {"1:/x", '/', "1:/x/a.txt", "1:"},
        {"share\\dir", '\\', "share\\dir\\a.txt", "share"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(remoteSeparator(row.path), row.separator) << row.path;
        EXPECT_EQ(joinRemotePath(row.path, "a.txt"), row.joinedWithA) << row.path;
        EXPECT_EQ(remoteParent(row.path), row.parent) << row.path;
    }
}

TEST(SizeText, BytesBelowAKibibyteThenOneDecimalUpToTerabytes)
{
    constexpr std::int64_t kTiB = std::int64_t{1} << 40;
    const std::pair<std::int64_t, const char*> rows[] = {
        {0, "0 B"},
        {1023, "1023 B"},
        {1024, "1.0 KB"},
        {1572864, "1.5 MB"},
        {1048575, "1024.0 KB"}, // rounds up in print, but stays below one mebibyte
        {3 * (kTiB >> 10), "3.0 GB"},
        {kTiB, "1.0 TB"},
        {4096 * kTiB, "4096.0 TB"},
    };
    for (const auto& [bytes, text] : rows) {
        EXPECT_EQ(sizeText(bytes), text) << bytes;
    }
}

TEST(TransferFraction, SentOverTotalCappedAndEmptyFilesFullOnlyWhenFinished)
{
    EXPECT_DOUBLE_EQ(transferFraction(50, 200, "传输中"), 0.25);
    EXPECT_DOUBLE_EQ(transferFraction(300, 200, "传输中"), 1.0);
    EXPECT_DOUBLE_EQ(transferFraction(0, 0, "传输中"), 0.0);
    EXPECT_DOUBLE_EQ(transferFraction(0, 0, "完成"), 1.0);
}

} // namespace
} // namespace tavoro::files
