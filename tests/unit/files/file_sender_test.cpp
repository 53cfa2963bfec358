#include "transfer_fixture.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace tavoro::files::test_support {
namespace {

using nlohmann::json;

std::vector<std::int64_t> offsetsOf(const std::vector<json>& chunks, std::int64_t id)
{
    std::vector<std::int64_t> offsets;
    for (const auto& chunk : chunks) {
        if (chunk["xfer_id"] == id) {
            offsets.push_back(chunk["offset"]);
        }
    }
    return offsets;
}

using FileSenderTest = TransferFixture;

TEST_F(FileSenderTest, SendsFilesOneAfterAnotherInChunksThatTheReceiverStoresIntact)
{
    struct Case {
        std::size_t size;
        std::vector<std::int64_t> offsets;
    };
    const std::vector<Case> cases = {{0, {}}, {65536, {0}}, {65537, {0, 65536}}};
    std::vector<std::int64_t> ids;
    for (const auto& c : cases) {
        ids.push_back(sender.send(source("f" + std::to_string(c.size), patterned(c.size)), "%DESKTOP%", "peer-1", "call-1"));
    }
    runSender();

    const auto all = channel.messages();
    std::vector<std::string> order;
    for (const auto& m : all) {
        if (m["type"] != "file_xfer_chunk") {
            order.push_back(m["type"].get<std::string>() + " " + std::to_string(m["xfer_id"].get<std::int64_t>()));
        }
    }
    EXPECT_EQ(order, (std::vector<std::string>{"file_xfer_start 1000", "file_xfer_done 1000", "file_xfer_start 1001",
                         "file_xfer_done 1001", "file_xfer_start 1002", "file_xfer_done 1002"}))
        << "each file is announced only when its turn comes";

    const auto starts = channel.messages("file_xfer_start");
    const auto dones = channel.messages("file_xfer_done");
    ASSERT_EQ(starts.size(), 3u);
    ASSERT_EQ(dones.size(), 3u);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const auto content = patterned(cases[i].size);
        const auto size = static_cast<std::int64_t>(cases[i].size);
        EXPECT_EQ(starts[i], (json{{"type", "file_xfer_start"}, {"to", "peer-1"}, {"call_id", "call-1"}, {"xfer_id", ids[i]},
                                 {"name", "f" + std::to_string(size)}, {"size", size}, {"chunk", 65536},
                                 {"dest_dir", "%DESKTOP%"}, {"p2p", false}}));
        EXPECT_EQ(offsetsOf(channel.messages("file_xfer_chunk"), ids[i]), cases[i].offsets);
        EXPECT_EQ(dones[i], (json{{"type", "file_xfer_done"}, {"to", "peer-1"}, {"call_id", "call-1"}, {"xfer_id", ids[i]},
                                {"ok", true}, {"sent", size}, {"sha256", sha256Of(content)}}));
        EXPECT_EQ(statusOf(sender, ids[i]), kStatusDone);
        EXPECT_EQ(jobOf(sender, ids[i])->sent.get(), size);
    }

    deliver(all);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(readFile(downloads("f" + std::to_string(cases[i].size))), patterned(cases[i].size));
        EXPECT_EQ(statusOf(receiver, ids[i]), kStatusDone);
        EXPECT_EQ(jobOf(receiver, ids[i])->sha256.get(), sha256Of(patterned(cases[i].size)));
    }
    EXPECT_EQ(sender.jobs().get().front()->id, ids.back()) << "newest first";
}

TEST_F(FileSenderTest, OnlyRegularReadableFilesAreSent)
{
    const auto fifo = dir.path() / "src" / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const fs::path& path : {dir.path() / "src" / "missing", dir.path() / "src", fifo, fs::path("/dev/zero")}) {
        channel.reset();
        const auto id = sender.send(path, "", "peer-1", "call-1");
        runSender();
        EXPECT_EQ(statusOf(sender, id), kStatusFailed) << path;
        EXPECT_TRUE(channel.messages("file_xfer_chunk").empty()) << path;
        ASSERT_EQ(channel.messages("file_xfer_done").size(), 1u) << path;
        EXPECT_EQ(channel.messages("file_xfer_done")[0]["ok"], false) << path;
        EXPECT_EQ(channel.messages("file_xfer_done")[0]["sent"], 0) << path;
    }
}

TEST_F(FileSenderTest, AFileThatBreaksOffWhileBeingSentEndsWithAFailedDone)
{
    const auto path = source("shrinking", patterned(6 * 65536));
    channel.setAutoWrite(false);
    const auto id = sender.send(path, "", "peer-1", "call-1");
    worker.drain();
    ASSERT_EQ(channel.messages("file_xfer_chunk").size(), 4u);
    fs::resize_file(path, 4 * 65536 + 5);
    channel.setAutoWrite(true);
    runSender();
    EXPECT_EQ(statusOf(sender, id), kStatusFailed);
    const auto dones = channel.messages("file_xfer_done");
    ASSERT_EQ(dones.size(), 1u);
    EXPECT_EQ(dones[0]["ok"], false);
    EXPECT_EQ(dones[0]["sent"], 4 * 65536);
    EXPECT_FALSE(dones[0].contains("sha256"));
}

TEST_F(FileSenderTest, KeepsAtMostFourChunksUnwrittenAndSendsAtMostOneChunkPerTwoMilliseconds)
{
    channel.setAutoWrite(false);
    const auto id = sender.send(source("big", patterned(60 * 65536)), "", "peer-1", "call-1");
    sender.handleMessage("file_xfer_ack", {{"from", "peer-1"}, {"xfer_id", id}, {"received", 60 * 65536}});
    auto chunks = [&] { return channel.messages("file_xfer_chunk").size(); };
    worker.drain();
    EXPECT_EQ(chunks(), 4u);
    advance(100ms);
    EXPECT_EQ(chunks(), 4u) << "nothing more while the socket has not written them";
    channel.writeAll();
    advance(2ms);
    EXPECT_EQ(chunks(), 8u);

    channel.setAutoWrite(true);
    advance(2ms);
    const auto before = chunks();
    advance(20ms);
    EXPECT_GE(chunks() - before, 9u);
    EXPECT_LE(chunks() - before, 11u) << "a socket that writes at once still gets one chunk per 2 ms";
}

TEST_F(FileSenderTest, KeepsWithinAWindowOfTheReceiversConfirmationsAndTakesItsWordOnTheWholeFile)
{
    auto chunks = [&](std::int64_t id) { return offsetsOf(channel.messages("file_xfer_chunk"), id).size(); };
    auto confirm = [&](std::int64_t id, std::int64_t received, json complete = nullptr) {
        json ack{{"from", "peer-1"}, {"xfer_id", id}, {"received", received}};
        if (!complete.is_null()) {
            ack["complete"] = complete;
        }
        sender.handleMessage("file_xfer_ack", ack);
    };
    const std::size_t window = OutgoingTransfers::kAckWindowBytes / 65536;
    for (const bool stored : {true, false}) {
        const auto id = sender.send(source("f", patterned(40 * 65536)), "", "peer-1", "call-1");
        advance(100ms);
        EXPECT_EQ(chunks(id), window) << "the first window";
        confirm(id, 4 * 65536);
        confirm(id, 2 * 65536); // late and smaller: changes nothing
        advance(100ms);
        EXPECT_EQ(chunks(id), window + 4);
        confirm(id, 40 * 65536);
        advance(100ms);
        EXPECT_EQ(chunks(id), 40u);
        EXPECT_EQ(statusOf(sender, id), kStatusTransferring) << "until the receiver says it stored the file";
        confirm(id, 40 * 65536, stored);
        advance(5ms);
        EXPECT_EQ(statusOf(sender, id), stored ? kStatusDone : kStatusFailed);
    }

    const auto silent = sender.send(source("g", patterned(40 * 65536)), "", "peer-1", "call-1");
    advance(1900ms, 10ms);
    EXPECT_EQ(chunks(silent), window);
    advance(300ms, 10ms);
    EXPECT_GT(chunks(silent), window) << "a receiver that never confirms is an older peer: the socket alone paces";
    runSender();
    EXPECT_EQ(statusOf(sender, silent), kStatusDone);

    const auto forsaken = sender.send(source("h", patterned(4 * 65536)), "", "peer-1", "call-1");
    confirm(forsaken, 65536);
    advance(100ms);
    EXPECT_EQ(statusOf(sender, forsaken), kStatusTransferring);
    advance(31s, 100ms);
    EXPECT_EQ(statusOf(sender, forsaken), kStatusFailed) << "confirmations stopped before the file was stored";
}

TEST_F(FileSenderTest, ReportsDoneOnlyOnceTheConnectionHasWrittenEverything)
{
    enum class Fault { none, notOpen, reconnectMidway, reconnectAfterDone, socketStalls };
    struct Case {
        Fault fault;
        std::string status;
    };
    const std::vector<Case> cases = {{Fault::none, kStatusDone}, {Fault::notOpen, kStatusFailed},
        {Fault::reconnectMidway, kStatusFailed}, {Fault::reconnectAfterDone, kStatusFailed},
        {Fault::socketStalls, kStatusFailed}};
    for (std::size_t i = 0; i < cases.size(); ++i) {
        channel.reset();
        channel.setAutoWrite(false);
        channel.setLive(cases[i].fault != Fault::notOpen);
        const std::size_t chunkCount = cases[i].fault == Fault::reconnectMidway ? 6 : 3;
        const auto id = sender.send(source("f", patterned(chunkCount * 65536)), "", "peer-1", "call-1");
        worker.drain();
        if (cases[i].fault == Fault::reconnectMidway) {
            channel.reconnect();
            channel.writeAll();
        }
        advance(10s, 10ms);
        if (cases[i].fault == Fault::reconnectAfterDone) {
            ASSERT_EQ(channel.messages("file_xfer_done").size(), 1u);
            channel.reconnect();
        }
        if (cases[i].fault == Fault::none) {
            EXPECT_EQ(statusOf(sender, id), kStatusTransferring) << "chunks and done still in the socket";
            channel.writeAll();
        }
        if (cases[i].fault == Fault::socketStalls) {
            EXPECT_EQ(statusOf(sender, id), kStatusTransferring);
            advance(20s, 100ms);
        } else {
            advance(10ms);
        }
        EXPECT_EQ(statusOf(sender, id), cases[i].status) << "case " << i;
    }
}

} // namespace
} // namespace tavoro::files::test_support
