#include "transfer_fixture.h"

#include "core/log.h"
#include "files/base64.h"

#include <csignal>
#include <sys/resource.h>

namespace tavoro::files::test_support {
namespace {

using nlohmann::json;

json start(std::int64_t id, const std::string& name, std::int64_t size, const std::string& destDir = "")
{
    return {{"type", "file_xfer_start"}, {"to", "me"}, {"call_id", "c"}, {"xfer_id", id}, {"name", name},
        {"size", size}, {"chunk", 65536}, {"dest_dir", destDir}, {"p2p", false}};
}

json chunk(std::int64_t id, std::int64_t offset, const std::string& bytes)
{
    return {{"type", "file_xfer_chunk"}, {"to", "me"}, {"call_id", "c"}, {"xfer_id", id}, {"offset", offset},
        {"data_b64", encodeBase64(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()))}};
}

json done(std::int64_t id, bool ok, std::int64_t sent, const std::string& sha = {})
{
    json message = {{"type", "file_xfer_done"}, {"to", "me"}, {"call_id", "c"}, {"xfer_id", id}, {"ok", ok}, {"sent", sent}};
    if (!sha.empty()) {
        message["sha256"] = sha;
    }
    return message;
}

class FileReceiverTest : public TransferFixture {
protected:
    // A file of two full chunks and a short one.
    const std::string content = patterned(2 * 65536 + 10);
    std::string piece(int index) const { return content.substr(static_cast<std::size_t>(index) * 65536, 65536); }
    json chunkAt(int index) const { return chunk(7, index * 65536, piece(index)); }
    std::int64_t size() const { return static_cast<std::int64_t>(content.size()); }
};

TEST_F(FileReceiverTest, OnlyACompleteVerifiedFileReplacesTheTargetAndAFailureKeepsWhatArrivedAsPart)
{
    struct Case {
        std::string what;
        std::vector<json> messages; // after the start
        std::string status;
    };
    const auto sha = sha256Of(content);
    auto stranger = chunkAt(1);
    stranger["from"] = "host-b";
    auto badBase64 = chunkAt(1);
    badBase64["data_b64"] = "%%%";
    const std::vector<Case> cases = {
        {"in order", {chunkAt(0), chunkAt(1), chunkAt(2), done(7, true, size(), sha)}, kStatusDone},
        {"reversed with duplicates", {chunkAt(2), chunkAt(1), chunkAt(1), chunkAt(0), chunkAt(2), done(7, true, size(), sha)}, kStatusDone},
        {"no digest from an older sender", {chunkAt(0), chunkAt(1), chunkAt(2), done(7, true, size())}, kStatusDone},
        {"chunks outside the file are dropped", {chunkAt(0), chunk(7, -5, "xx"), chunkAt(1), chunk(7, size() - 1, "xx"),
             chunk(7, size(), "x"), chunkAt(2), done(7, true, size(), sha)}, kStatusDone},
        {"a hole", {chunkAt(0), chunkAt(2), done(7, true, size(), sha)}, kStatusFailed},
        {"a chunk from another peer", {chunkAt(0), stranger, chunkAt(2), done(7, true, size(), sha)}, kStatusFailed},
        {"a chunk that is not Base64", {chunkAt(0), badBase64, chunkAt(2), done(7, true, size(), sha)}, kStatusFailed},
        {"the sender failed", {chunkAt(0), chunkAt(1), done(7, false, 2 * 65536)}, kStatusFailed},
        {"sent differs from size", {chunkAt(0), chunkAt(1), chunkAt(2), done(7, true, size() - 1)}, kStatusFailed},
        {"digest mismatch", {chunkAt(0), chunkAt(1), chunkAt(2), done(7, true, size(), sha256Of("other"))}, kStatusFailed},
    };
    for (const auto& c : cases) {
        fs::remove_all(folders.downloadsPath);
        fs::create_directories(folders.downloadsPath);
        writeFile(downloads("report.pdf"), "old");
        writeFile(downloads("report.pdf.part"), "older part");
        FileTransferManager fresh{receiverChannel, worker, main, scheduler, clock, folders,
            [](const std::string&) { return true; }};
        auto send = [&](json message) {
            if (!message.contains("from")) {
                message["from"] = "host-a";
            }
            fresh.handleMessage(message["type"], message);
        };
        send(start(7, "report.pdf", size()));
        for (const auto& message : c.messages) {
            send(message);
        }
        main.drain();
        ASSERT_EQ(fresh.jobs().get().size(), 1u) << c.what;
        const auto& job = *fresh.jobs().get().front();
        EXPECT_EQ(job.status.get(), c.status) << c.what;
        std::vector<std::string> left;
        for (const auto& entry : fs::directory_iterator(folders.downloadsPath)) {
            left.push_back(entry.path().filename().string());
        }
        std::sort(left.begin(), left.end());
        EXPECT_EQ(left, (std::vector<std::string>{"report.pdf", "report.pdf.part"})) << c.what << ": no temporary file left";
        if (c.status == kStatusDone) {
            EXPECT_EQ(readFile(downloads("report.pdf")), content) << c.what;
            EXPECT_EQ(job.sha256.get(), sha) << c.what;
        } else {
            EXPECT_EQ(readFile(downloads("report.pdf")), "old") << c.what;
            EXPECT_NE(readFile(downloads("report.pdf.part")), "older part") << c.what;
            EXPECT_EQ(job.sha256.get(), "") << c.what;
        }
    }
}

TEST_F(FileReceiverTest, ConfirmsEveryFourChunksAndAnswersDoneWithWhetherTheFileWasStored)
{
    const auto big = patterned(9 * 65536);
    deliver({start(7, "big.bin", 9 * 65536)});
    for (int i = 0; i < 9; ++i) {
        deliver({chunk(7, i * 65536, big.substr(static_cast<std::size_t>(i) * 65536, 65536))});
    }
    deliver({done(7, true, 9 * 65536, sha256Of(big)), start(8, "bad.bin", 3), chunk(8, 0, "abc"), done(8, true, 3, std::string(64, '0'))});
    std::vector<std::pair<std::int64_t, json>> acks;
    for (const auto& ack : receiverChannel.messages("file_xfer_ack")) {
        EXPECT_EQ(ack["to"], "host-a");
        EXPECT_EQ(ack["call_id"], "c");
        acks.emplace_back(ack["xfer_id"], json{{"received", ack["received"]}, {"complete", ack.value("complete", json())}});
    }
    EXPECT_EQ(acks, (std::vector<std::pair<std::int64_t, json>>{{7, {{"received", 4 * 65536}, {"complete", nullptr}}},
                        {7, {{"received", 8 * 65536}, {"complete", nullptr}}},
                        {7, {{"received", 9 * 65536}, {"complete", true}}},
                        {8, {{"received", 3}, {"complete", false}}}}));
}

TEST_F(FileReceiverTest, NamesStayInsideTheDestinationAndUnknownIdsAreIgnored)
{
    deliver({start(1, "../../.bashrc", 1), chunk(1, 0, "x"), done(1, true, 1), start(2, "..", 0), done(2, true, 0)});
    EXPECT_EQ(readFile(downloads(".bashrc")), "x");
    EXPECT_TRUE(fs::exists(downloads("download.bin")));
    deliver({chunk(99, 0, "x"), done(99, true, 1)});
    EXPECT_EQ(receiver.jobs().get().size(), 2u);
    EXPECT_FALSE(receiver.handleMessage("file_xfer_other", json::object()));
}

TEST_F(FileReceiverTest, StartsFromStrangersAreRefusedAndLoggedOncePerSender)
{
    log::Capture capture;
    deliver({start(1, "a", 1), start(2, "b", 1)}, "mallory");
    deliver({start(3, "c", 1)}, "eve");
    EXPECT_TRUE(receiver.jobs().get().empty());
    EXPECT_EQ(capture.count("拒绝文件传输: mallory"), 1u);
    EXPECT_EQ(capture.count("拒绝文件传输: eve"), 1u);
    EXPECT_FALSE(fs::exists(downloads("a")));
}

TEST_F(FileReceiverTest, RefusesTransfersBeyondThePeerAndTotalLimitsAndReusedIds)
{
    log::Capture capture;
    FileTransferManager open{receiverChannel, worker, main, scheduler, clock, folders,
        [](const std::string&) { return true; }};
    auto startFrom = [&](const std::string& peer, std::int64_t id) {
        auto message = start(id, "f" + std::to_string(id), 1);
        message["from"] = peer;
        open.handleMessage("file_xfer_start", message);
        main.drain();
    };
    for (int i = 0; i < 9; ++i) {
        startFrom("p0", 100 + i);
    }
    EXPECT_EQ(open.jobs().get().size(), 8u) << "eight per peer";
    startFrom("p1", 100);
    EXPECT_EQ(open.jobs().get().size(), 8u) << "an id in use is not taken over";
    for (int peer = 1; peer < 5; ++peer) {
        for (int i = 0; i < 8; ++i) {
            startFrom("p" + std::to_string(peer), peer * 1000 + i);
        }
    }
    EXPECT_EQ(open.jobs().get().size(), 32u) << "thirty-two in all";
    EXPECT_EQ(capture.count("同时接收的文件过多"), 1u + 8u);
    EXPECT_EQ(capture.count("传输编号已在使用"), 1u);

    auto finish = done(100, true, 1);
    finish["from"] = "p0";
    open.handleMessage("file_xfer_chunk", [&] { auto c = chunk(100, 0, "x"); c["from"] = "p0"; return c; }());
    open.handleMessage("file_xfer_done", finish);
    startFrom("p4", 4999);
    EXPECT_EQ(open.jobs().get().size(), 33u) << "a finished transfer frees its place";
}

TEST_F(FileReceiverTest, ThirtySecondsWithoutAChunkEndTheTransfer)
{
    deliver({start(1, "slow", 3 * 65536), chunk(1, 0, patterned(65536))});
    advance(29s, 1s);
    deliver({chunk(1, 65536, patterned(65536))});
    advance(29s, 1s);
    EXPECT_EQ(statusOf(receiver, 1), kStatusTransferring);
    advance(1s, 1s);
    EXPECT_EQ(statusOf(receiver, 1), kStatusFailed);
    EXPECT_EQ(fs::file_size(downloads("slow.part")), 2u * 65536) << "what arrived is kept";
    deliver({chunk(1, 2 * 65536, patterned(65536)), done(1, true, 3 * 65536)});
    EXPECT_EQ(statusOf(receiver, 1), kStatusFailed) << "late messages find no transfer";
    EXPECT_FALSE(fs::exists(downloads("slow")));
}

TEST_F(FileReceiverTest, AbandoningAPeerEndsOnlyItsTransfers)
{
    deliver({start(1, "from-a", 2), chunk(1, 0, "a")});
    deliver({start(2, "from-b", 1)}, "host-b");
    receiver.abandonFrom("host-a");
    EXPECT_EQ(statusOf(receiver, 1), kStatusFailed);
    EXPECT_EQ(statusOf(receiver, 2), kStatusTransferring);
    EXPECT_EQ(readFile(downloads("from-a.part")), "a");
    receiver.abandonAll();
    EXPECT_EQ(statusOf(receiver, 2), kStatusFailed);
    EXPECT_FALSE(fs::exists(downloads("from-b.part"))) << "nothing arrived, nothing kept";
}

TEST_F(FileReceiverTest, AWriteErrorEndsTheTransferAndKeepsWhatWasWritten)
{
    // A file size limit makes the second chunk's write fail (EFBIG) instead of raising SIGXFSZ.
    auto* previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit previous{};
    ::getrlimit(RLIMIT_FSIZE, &previous);
    rlimit limited = previous;
    limited.rlim_cur = 65536;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    deliver({start(1, "big", 2 * 65536), chunk(1, 0, patterned(65536)), chunk(1, 65536, patterned(65536))});
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_EQ(statusOf(receiver, 1), kStatusFailed);
    EXPECT_EQ(fs::file_size(downloads("big.part")), 65536u);
    EXPECT_FALSE(fs::exists(downloads("big")));
}

TEST_F(FileReceiverTest, DestinationsFollowThePeersDirectoryOnlyWhenItIsAnExistingAbsoluteOne)
{
    const auto elsewhere = dir.path() / "elsewhere";
    fs::create_directories(elsewhere);
    const std::string withBackslashes = [&] {
        auto text = elsewhere.string();
        std::replace(text.begin(), text.end(), '/', '\\');
        return text + "\\\\";
    }();
    const std::vector<std::pair<std::string, fs::path>> cases = {
        {"", folders.downloadsPath},
        {"%DESKTOP%", folders.downloadsPath},
        {"relative/dir", folders.downloadsPath},
        {"/no/such/dir", folders.downloadsPath},
        {elsewhere.string(), elsewhere},
        {withBackslashes, elsewhere},
        {"/" + elsewhere.string() + "//", elsewhere},
    };
    for (const auto& [destDir, expected] : cases) {
        EXPECT_TRUE(fs::equivalent(FileReceiver::resolveDir(destDir, folders), expected)) << destDir;
    }
    platform::fake::FixedUserFolders noDownloads;
    noDownloads.temporaryPath = "/tmp";
    EXPECT_EQ(FileReceiver::resolveDir("", noDownloads), "/tmp");
}

TEST_F(FileReceiverTest, TheDestinationPolicyDecidesWhereAPeersFilesGo)
{
    const auto inbox = dir.path() / "inbox";
    receiver.setDestinationPolicy([&](const std::string& from, const std::string&) {
        return from == "host-a" ? inbox : fs::path();
    });
    deliver({start(1, "a.txt", 1, "/etc"), chunk(1, 0, "a"), done(1, true, 1)});
    deliver({start(2, "b.txt", 1)}, "host-b");
    EXPECT_EQ(readFile(inbox / "a.txt"), "a");
    EXPECT_EQ(statusOf(receiver, 1), kStatusDone);
    EXPECT_EQ(statusOf(receiver, 2), "(none)") << "refused";
}

} // namespace
} // namespace tavoro::files::test_support
