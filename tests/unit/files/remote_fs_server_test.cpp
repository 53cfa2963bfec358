#include "files/remote_fs_server.h"

#include "core/log.h"
#include "platform/fake/manual_serial_queue.h"
#include "support/recording_sender.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace tavoro::files {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

class RemoteFsServerTest : public ::testing::Test {
protected:
    // A request from the session peer, run to its end.
    bool request(const std::string& type, json fields, const std::string& from = "123456789")
    {
        fields["from"] = from;
        fields["call_id"] = "call-1";
        bool handled = server.handle(type, fields);
        queue.drain();
        return handled;
    }
    json listing(const std::string& path)
    {
        sender.clear();
        request("fs_list", {{"path", path}});
        auto texts = sender.texts();
        return texts.size() == 1 ? texts[0] : json();
    }
    std::string at(const std::string& relative) const { return (dir.path() / relative).string(); }
    void touch(const std::string& relative, const std::string& content = "") const
    {
        std::ofstream(dir.path() / relative) << content;
    }
    static std::vector<std::string> names(const json& reply)
    {
        std::vector<std::string> found;
        for (const auto& entry : reply["entries"]) {
            found.push_back(entry["name"]);
        }
        return found;
    }

    test::TempDir dir;
    test::RecordingSender sender;
    platform::fake::ManualSerialQueue queue;
    RemoteFsServer server{sender, queue, [](const std::string& from) { return from == "123456789"; }};
};

TEST_F(RemoteFsServerTest, ListsDirectoriesFirstByNameWithoutHiddenItems)
{
    fs::create_directory(at("A"));
    fs::create_directory(at("real"));
    fs::create_directory_symlink(at("real"), at("link"));
    touch("b.txt", "12345");
    touch("a.txt");
    touch(".hidden");
    touch("B2.txt");
    touch("bad\xFF.txt");
    fs::create_symlink(at("nowhere"), at("dangling"));

    log::Capture log;
    auto reply = listing(dir.path().string() + "/");

    EXPECT_EQ(reply["type"], "fs_list_resp");
    EXPECT_EQ(reply["to"], "123456789");
    EXPECT_EQ(reply["call_id"], "call-1");
    EXPECT_EQ(reply["path"], dir.path().string() + "/");
    EXPECT_FALSE(reply.contains("req_id"));
    EXPECT_EQ(names(reply),
        (std::vector<std::string>{"A", "link", "real", "a.txt", "b.txt", "B2.txt", "bad\uFFFD.txt", "dangling"}));
    EXPECT_TRUE(reply["entries"][1]["dir"]);
    EXPECT_EQ(reply["entries"][4]["size"], 5);
    EXPECT_GT(reply["entries"][4]["mtime"].get<std::int64_t>(), 0);
    EXPECT_EQ(reply["entries"][7]["size"], 0);
    EXPECT_EQ(reply["entries"][7]["mtime"], 0);
    EXPECT_TRUE(log.contains("Tavoro fs: fs_list '" + dir.path().string() + "/' → 8 项 (from 123456789)"));
}

TEST_F(RemoteFsServerTest, EchoesTextRequestIdAndAnswersMissingDirectoryWithNoEntries)
{
    ASSERT_TRUE(server.handle("fs_list", {{"from", "123456789"}, {"path", at("missing")}, {"req_id", "r-7"}}));
    EXPECT_TRUE(sender.texts().empty()) << "the work waits for the file worker";
    queue.drain();
    auto texts = sender.texts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0]["req_id"], "r-7");
    EXPECT_EQ(texts[0]["call_id"], "");
    EXPECT_EQ(texts[0]["path"], at("missing"));
    EXPECT_TRUE(texts[0]["entries"].is_array());
    EXPECT_TRUE(texts[0]["entries"].empty());

    sender.clear();
    request("fs_list", {{"path", at("missing")}, {"req_id", 7}});
    EXPECT_FALSE(sender.texts().at(0).contains("req_id"));
}

TEST_F(RemoteFsServerTest, MakesDeletesRenamesAndCopies)
{
    request("fs_mkdir", {{"path", at("a/b/c")}});
    EXPECT_TRUE(fs::is_directory(at("a/b/c")));

    touch("a/b/c/file", "x");
    request("fs_delete", {{"paths", {at("a/b")}}});
    EXPECT_FALSE(fs::exists(at("a/b")));
    EXPECT_TRUE(fs::exists(at("a")));

    touch("one", "1");
    touch("two", "2");
    request("fs_rename", {{"old_path", at("one")}, {"new_path", at("two")}});
    EXPECT_TRUE(fs::exists(at("one"))) << "an existing target is never replaced";
    request("fs_rename", {{"old_path", at("one")}, {"new_path", at("a/moved")}});
    EXPECT_TRUE(fs::exists(at("a/moved")));

    fs::create_directories(at("x/same"));
    fs::create_directories(at("y/same/inner"));
    touch("x/same/first");
    request("fs_copy", {{"srcs", {at("x/same"), at("y/same")}}, {"dst_dir", at("a") + "/"}});
    EXPECT_TRUE(fs::exists(at("a/same/first")));
    EXPECT_FALSE(fs::exists(at("a/same/inner"))) << "the second copy of the same name is not made";
    EXPECT_TRUE(sender.texts().empty());
}

TEST_F(RemoteFsServerTest, RefusesUnsafeOrUnauthorisedRequests)
{
    fs::create_directories(at("keep/sub"));
    log::Capture log;

    EXPECT_TRUE(request("fs_delete", {{"paths", {at("keep")}}}, "987654321"));
    EXPECT_TRUE(request("fs_list", {{"path", at("keep")}}, "987654321"));
    EXPECT_TRUE(fs::exists(at("keep")));
    EXPECT_TRUE(sender.texts().empty());
    EXPECT_EQ(log.count("987654321"), 1u);

    EXPECT_FALSE(request("fs_list", {{"path", at("keep")}}, ""));
    EXPECT_FALSE(request("fs_stat", {{"path", at("keep")}}));

    // Empty and non-text entries are skipped; the real entry after them still goes. ("/" itself is never
    // sent here: the guard that keeps it is tested on its own, without a removal behind it.)
    request("fs_delete", {{"paths", {"", 5, at("keep/sub")}}});
    EXPECT_TRUE(fs::exists(dir.path()));
    EXPECT_FALSE(fs::exists(at("keep/sub")));

    request("fs_copy", {{"srcs", {at("keep"), ""}}, {"dst_dir", at("keep")}});
    request("fs_copy", {{"srcs", {at("keep")}}, {"dst_dir", at("keep/../keep")}});
    EXPECT_TRUE(fs::is_empty(at("keep"))) << "no copy into its own subtree";
}

TEST_F(RemoteFsServerTest, CutsAListingThatWouldNotFitOneMessage)
{
    const std::string padding(250, 'n');
    constexpr int kFiles = 3400; // about 1.03 MB of entries
    for (int i = 0; i < kFiles; ++i) {
        touch(padding + std::to_string(i));
    }
    log::Capture log;
    auto reply = listing(dir.path().string());

    auto sent = reply["entries"].size();
    EXPECT_GT(sent, 2500u);
    EXPECT_LT(sent, static_cast<std::size_t>(kFiles));
    EXPECT_LE(reply.dump().size() + 40, RemoteFsServer::kMaxReplyBytes);
    EXPECT_EQ(log.count("过大"), 1u);
}

TEST_F(RemoteFsServerTest, HandsDownloadsToTheTransferOnceSet)
{
    std::vector<DownloadRequest> downloads;
    request("fs_get", {{"src_path", "\\tmp\\f"}, {"dest_dir", "C:\\in\\"}});
    server.setDownloadHandler([&](DownloadRequest r) { downloads.push_back(std::move(r)); });
    request("fs_get", {{"src_path", "\\tmp\\f"}, {"dest_dir", "C:\\in\\"}});

    ASSERT_EQ(downloads.size(), 1u);
    EXPECT_EQ(downloads[0].srcPath, "/tmp/f");
    EXPECT_EQ(downloads[0].destDir, "C:\\in\\");
    EXPECT_EQ(downloads[0].to, "123456789");
    EXPECT_EQ(downloads[0].callId, "call-1");
}

} // namespace
} // namespace tavoro::files
