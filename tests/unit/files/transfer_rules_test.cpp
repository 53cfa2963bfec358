#include "files/base64.h"
#include "files/received_ranges.h"
#include "files/send_pacer.h"
#include "files/sha256.h"
#include "files/transfer_names.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace tavoro::files {
namespace {

using namespace std::chrono_literals;

std::vector<std::uint8_t> bytesOf(std::string_view text) { return {text.begin(), text.end()}; }

TEST(TransferNamesTest, AReceivedNameKeepsOnlyItsLastComponentAndNeverEscapes)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"report.pdf", "report.pdf"},
        {"../../.bashrc", ".bashrc"},
        {"/etc/passwd", "passwd"},
        {"a\\b.txt", "b.txt"},
        {"C:\\Users\\x\\..\\y.doc", "y.doc"},
        {"", "download.bin"},
        {".", "download.bin"},
        {"..", "download.bin"},
        {"dir/", "download.bin"},
        {"..\\..", "download.bin"},
        {std::string("a\0b", 3), "download.bin"},
    };
    for (const auto& [announced, stored] : cases) {
        EXPECT_EQ(receivedFileName(announced), stored) << announced;
    }
    EXPECT_EQ(temporaryFileName("a.txt", 42), ".a.txt.42.tavoro-tmp");
    EXPECT_EQ(partFileName("a.txt"), "a.txt.part");
    EXPECT_EQ(sentFileName("/home/u/a.txt"), "a.txt");
}

TEST(Base64Test, EncodesWithPaddingAndDecodesOnlyWellFormedText)
{
    const std::vector<std::pair<std::string, std::string>> pairs = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"\xff\xfe", "//4="}};
    for (const auto& [plain, encoded] : pairs) {
        EXPECT_EQ(encodeBase64(bytesOf(plain)), encoded);
        EXPECT_EQ(decodeBase64(encoded), bytesOf(plain)) << encoded;
    }
    for (const char* bad : {"Zg", "Zg=", "Z===", "====", "Zm9v\n", " Zm9v", "Zm-v", "Zg==Zg==", "Zm=v"}) {
        EXPECT_FALSE(decodeBase64(bad)) << bad;
    }
    std::vector<std::uint8_t> chunk(65536);
    for (std::size_t i = 0; i < chunk.size(); ++i) {
        chunk[i] = static_cast<std::uint8_t>(i * 7);
    }
    const auto text = encodeBase64(chunk);
    EXPECT_EQ(text.size(), 87384u);
    EXPECT_EQ(decodeBase64(text), chunk);
}

TEST(Sha256Test, GivesLowerCaseHexOfTheWholeInput)
{
    Sha256 sha;
    sha.update(bytesOf("a"));
    sha.update(bytesOf("bc"));
    EXPECT_EQ(sha.hexDigest(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(ReceivedRangesTest, CoversAFileOnlyWithoutHoles)
{
    struct Case {
        std::vector<std::pair<std::int64_t, std::int64_t>> ranges; // offset, length
        std::int64_t size;
        bool covered;
        std::int64_t bytes;
    };
    const std::vector<Case> cases = {
        {{}, 0, true, 0},
        {{}, 1, false, 0},
        {{{0, 10}}, 10, true, 10},
        {{{5, 5}, {0, 5}}, 10, true, 10},
        {{{0, 4}, {6, 4}}, 10, false, 8},
        {{{0, 6}, {0, 6}, {4, 6}}, 10, true, 10},
        {{{8, 2}, {0, 2}, {4, 2}, {2, 2}, {6, 2}}, 10, true, 10},
        {{{1, 9}}, 10, false, 9},
        {{{0, 5}, {5, 0}}, 10, false, 5},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        ReceivedRanges ranges;
        for (auto [offset, length] : cases[i].ranges) {
            ranges.add(offset, length);
        }
        EXPECT_EQ(ranges.covers(cases[i].size), cases[i].covered) << "case " << i;
        EXPECT_EQ(ranges.coveredBytes(), cases[i].bytes) << "case " << i;
    }
}

TEST(SendPacerTest, TheRateLimiterAllowsABurstThenOneChunkPerInterval)
{
    ChunkRateLimiter limiter(2ms, 4);
    core::SteadyTime now{1h};
    int sent = 0;
    for (; limiter.waitBefore(now) == 0ms; ++sent) {
        limiter.take(now);
    }
    EXPECT_EQ(sent, 4);
    EXPECT_EQ(limiter.waitBefore(now), 2ms);
    now += 1ms; // time spent encoding counts toward the interval
    EXPECT_EQ(limiter.waitBefore(now), 1ms);
    now += 1ms;
    EXPECT_EQ(limiter.waitBefore(now), 0ms);
    // Sustained: 1000 chunks cannot go in less than about 2 s.
    int more = 0;
    for (auto end = now + 2000ms; now < end; now += 1ms) {
        while (limiter.waitBefore(now) == 0ms) {
            limiter.take(now);
            ++more;
        }
    }
    EXPECT_LE(more, 1000 + 1);
    EXPECT_GE(more, 999);
}

TEST(SendPacerTest, TheWindowFreesChunksOnceTheirMarkIsWritten)
{
    SendWindow window(2);
    window.record(100);
    EXPECT_FALSE(window.full());
    window.record(250);
    EXPECT_TRUE(window.full());
    window.retire(99);
    EXPECT_TRUE(window.full());
    window.retire(100);
    EXPECT_FALSE(window.full());
    window.retire(300);
    EXPECT_TRUE(window.empty());
}

} // namespace
} // namespace tavoro::files
