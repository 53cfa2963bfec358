#include "files/remote_browser.h"

#include "platform/fake/manual_clock.h"
#include "platform/fake/manual_main_queue.h"
#include "support/recording_sender.h"

#include <gtest/gtest.h>

#include <thread>

namespace tavoro::files {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

class RemoteBrowserTest : public ::testing::Test {
protected:
    // Takes a reply in the way the message routing does: from another thread.
    void reply(const std::string& path, const json& entries)
    {
        std::thread([&] { browser->feed(path, entries.get<json::array_t>()); }).join();
        mainQueue.drain();
    }
    std::vector<std::string> sentTypes() const
    {
        std::vector<std::string> types;
        for (const auto& message : sender.texts()) {
            types.push_back(message["type"]);
        }
        return types;
    }

    test::RecordingSender sender;
    platform::fake::ManualMainQueue mainQueue;
    platform::fake::ManualClock clock;
    platform::fake::ManualScheduler scheduler{clock};
    std::shared_ptr<RemoteBrowser> browser = RemoteBrowser::create(sender, "222222222", "call-1", mainQueue, scheduler);
};

TEST_F(RemoteBrowserTest, ListAsksThePeerAndTheReplyEndsLoading)
{
    browser->list("/home/u");
    EXPECT_TRUE(browser->loading.get());
    ASSERT_EQ(sender.texts().size(), 1u);
    EXPECT_EQ(sender.texts()[0],
        (json{{"type", "fs_list"}, {"to", "222222222"}, {"call_id", "call-1"}, {"path", "/home/u"}, {"req_id", ""}}));

    reply("/srv", json::array({{{"name", "d"}, {"dir", true}, {"size", 0}, {"mtime", 5}},
                      {{"name", "f"}, {"size", 12.9}, {"mtime", -3.7}}, {{"name", 7}, {"size", "big"}}}));
    EXPECT_FALSE(browser->loading.get());
    EXPECT_EQ(browser->path.get(), "/srv") << "the last reply wins, whatever its path";
    EXPECT_EQ(browser->entries.get(),
        (std::vector<FsEntry>{{"d", true, 0, 5}, {"f", false, 12, -3}, {"", false, 0, 0}}));
}

TEST_F(RemoteBrowserTest, UpAtTheRootAndDownloadOfADirectorySendNothing)
{
    browser->up();
    browser->download({"docs", true, 0, 0}, "/tmp");
    EXPECT_TRUE(sender.texts().empty());

    reply("C:\\Users", json::array());
    browser->download({"a.txt", false, 3, 0}, "/home/me/Downloads");
    browser->up();
    const auto sent = sender.texts();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0]["type"], "fs_get");
    EXPECT_EQ(sent[0]["src_path"], "C:\\Users\\a.txt");
    EXPECT_EQ(sent[0]["dest_dir"], "/home/me/Downloads");
    EXPECT_EQ(sent[1]["type"], "fs_list");
    EXPECT_EQ(sent[1]["path"], "C:");
}

TEST_F(RemoteBrowserTest, MkdirAndDeleteListTheDirectoryAgainAfterTheRelistDelay)
{
    reply("/data", json::array());
    browser->mkdir("new");
    browser->remove({"a", "b"});
    EXPECT_EQ(sentTypes(), (std::vector<std::string>{"fs_mkdir", "fs_delete"}));
    EXPECT_EQ(sender.texts()[0]["path"], "/data/new");
    EXPECT_EQ(sender.texts()[1]["paths"], json::array({"/data/a", "/data/b"}));

    scheduler.advance(299ms);
    EXPECT_EQ(sender.texts().size(), 2u);
    scheduler.advance(1ms);
    EXPECT_EQ(sentTypes(), (std::vector<std::string>{"fs_mkdir", "fs_delete", "fs_list", "fs_list"}));
    EXPECT_EQ(sender.texts()[2]["path"], "/data");
}

TEST_F(RemoteBrowserTest, ARelistDueAfterTheBrowserIsGoneDoesNothing)
{
    browser->mkdir("x");
    browser.reset();
    scheduler.advance(1s);
    EXPECT_EQ(sender.texts().size(), 1u);
}

} // namespace
} // namespace tavoro::files
