#include "control/recording.h"
#include "platform/fake/fixed_user_folders.h"
#include "platform/fake/manual_clock.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <ctime>
#include <fstream>
#include <numeric>

namespace tavoro::control {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::chrono::system_clock::time_point localTime(int year, int month, int day, int hour, int minute, int second)
{
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&local));
}

std::vector<std::uint8_t> sequence(std::size_t count, std::uint8_t first)
{
    std::vector<std::uint8_t> bytes(count);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

std::vector<std::uint8_t> contents(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// A path no folder can be made at: its parent is a regular file.
fs::path blockedFolder(const fs::path& base)
{
    std::ofstream(base / "plain-file") << "x";
    return base / "plain-file" / "sub";
}

TEST(MediaFileName, LocalTimeToTheSecond)
{
    struct Case {
        std::chrono::system_clock::time_point when;
        const char* extension;
        const char* name;
    };
    const Case cases[] = {
        {localTime(2026, 3, 5, 14, 7, 9), ".h264", "Tavoro-20260305-140709.h264"},
        {localTime(2025, 12, 31, 23, 59, 59) + 999ms, ".png", "Tavoro-20251231-235959.png"},
        {localTime(2027, 1, 2, 3, 4, 5), "", "Tavoro-20270102-030405"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(mediaFileName(c.when, c.extension), c.name);
    }
}

struct RecordingTest : ::testing::Test {
    RecordingTest()
    {
        folders.videosPath = dir.path() / "home" / "Videos";
        folders.picturesPath = dir.path() / "home" / "Pictures";
        folders.temporaryPath = dir.path() / "tmp";
        fs::create_directory(folders.temporaryPath);
    }

    test::TempDir dir;
    platform::fake::FixedUserFolders folders;
    platform::fake::ManualWallClock clock{localTime(2026, 3, 5, 14, 7, 9)};
    Recording recording{folders, clock};
};

TEST_F(RecordingTest, WritesTheStreamAsItArrivesIntoANewFileInTheVideosFolder)
{
    EXPECT_EQ(recording.start(), "● 录制中：Tavoro-20260305-140709.h264");
    const fs::path file = folders.videosPath / "Tavoro-20260305-140709.h264";
    EXPECT_TRUE(fs::exists(file)) << "the folder is created and the file exists before any frame";

    const auto first = sequence(100, 0);
    const auto second = sequence(200, 100);
    recording.write(first);
    recording.write(second);
    EXPECT_EQ(recording.stop(), "✓ 录像已保存：Tavoro-20260305-140709.h264");

    EXPECT_EQ(contents(file), sequence(300, 0));
    EXPECT_EQ(recording.bytesWritten(), 300u);
    recording.write(first);
    EXPECT_EQ(fs::file_size(file), 300u) << "nothing is written after stop";
}

TEST_F(RecordingTest, RecordingsOfTheSameSecondGetNumberedNamesAndReplaceNothing)
{
    const std::string names[] = {"Tavoro-20260305-140709.h264", "Tavoro-20260305-140709-2.h264",
        "Tavoro-20260305-140709-3.h264"};
    for (std::size_t i = 0; i < std::size(names); ++i) {
        EXPECT_EQ(recording.start(), "● 录制中：" + names[i]);
        recording.write(sequence(i + 1, 0));
        EXPECT_EQ(recording.stop(), "✓ 录像已保存：" + names[i]);
    }
    for (std::size_t i = 0; i < std::size(names); ++i) {
        EXPECT_EQ(fs::file_size(folders.videosPath / names[i]), i + 1);
    }
}

TEST_F(RecordingTest, StopTexts)
{
    EXPECT_EQ(recording.stop(), "录制已停止");
    recording.start();
    recording.close(); // the session ends: silent, the file is known
    EXPECT_FALSE(recording.isOpen());
    EXPECT_EQ(recording.stop(), "✓ 录像已保存：Tavoro-20260305-140709.h264");
    EXPECT_EQ(recording.stop(), "✓ 录像已保存：Tavoro-20260305-140709.h264");
}

TEST_F(RecordingTest, StartAtReplacesTheFileThere)
{
    const fs::path file = dir.path() / "chosen.h264";
    std::ofstream(file) << "old contents";
    EXPECT_EQ(recording.startAt(file), "● 录制中：chosen.h264");
    recording.write(sequence(3, 7));
    recording.stop();
    EXPECT_EQ(contents(file), sequence(3, 7));
}

TEST_F(RecordingTest, AFailedWriteEndsTheRecordingAndIsReportedAtStop)
{
    if (!fs::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full";
    }
    EXPECT_EQ(recording.startAt("/dev/full"), "● 录制中：full");
    recording.write(sequence(100, 0));
    EXPECT_FALSE(recording.isOpen());
    EXPECT_EQ(recording.bytesWritten(), 0u);
    EXPECT_EQ(recording.stop(), "✗ 录像写入失败：full（已保留写入的部分）");

    // The next recording starts clean.
    recording.start();
    recording.write(sequence(10, 0));
    EXPECT_EQ(recording.stop(), "✓ 录像已保存：Tavoro-20260305-140709.h264");
}

TEST_F(RecordingTest, FallsBackToTheTemporaryFolderThenGivesUp)
{
    folders.videosPath = blockedFolder(dir.path());
    EXPECT_EQ(recording.start(), "● 录制中：Tavoro-20260305-140709.h264");
    EXPECT_EQ(recording.lastFile(), folders.temporaryPath / "Tavoro-20260305-140709.h264");
    recording.stop();

    folders.temporaryPath = folders.videosPath;
    Recording nowhere(folders, clock);
    EXPECT_EQ(nowhere.start(), "✗ 录像无法创建文件");
    EXPECT_FALSE(nowhere.isOpen());
    EXPECT_EQ(nowhere.stop(), "录制已停止");
    EXPECT_EQ(nowhere.startAt(folders.videosPath / "x.h264"), "✗ 录像无法创建文件");
}

TEST_F(RecordingTest, ScreenshotsAreNewFilesInThePicturesFolder)
{
    const auto png = sequence(50, 1);
    EXPECT_EQ(saveScreenshot(png, folders, clock), "✓ 截图已保存：Tavoro-20260305-140709.png");
    EXPECT_EQ(saveScreenshot(sequence(5, 0), folders, clock), "✓ 截图已保存：Tavoro-20260305-140709-2.png");
    EXPECT_EQ(contents(folders.picturesPath / "Tavoro-20260305-140709.png"), png);

    const fs::path chosen = dir.path() / "chosen.png";
    std::ofstream(chosen) << "old contents";
    EXPECT_EQ(saveScreenshot(png, folders, clock, chosen), "✓ 截图已保存：chosen.png");
    EXPECT_EQ(contents(chosen), png);
}

TEST_F(RecordingTest, AScreenshotThatCannotBeWrittenLeavesNothing)
{
    const auto png = sequence(50, 1);
    folders.picturesPath = blockedFolder(dir.path());
    EXPECT_EQ(saveScreenshot(png, folders, clock), "✗ 截图保存失败");
    EXPECT_EQ(saveScreenshot(png, folders, clock, dir.path() / "missing" / "x.png"), "✗ 截图保存失败");
    EXPECT_FALSE(fs::exists(dir.path() / "missing"));
}

} // namespace
} // namespace tavoro::control
