#include "host_controller_fixture.h"

#include "support/temp_dir.h"

#include <filesystem>

namespace tavoro::app {
namespace {

using nlohmann::json;
using test::HostingTest;
using test::kCaller;

const std::string kViewer = "333333333";
const std::string kStranger = "999999999";

class FileServiceTest : public HostingTest {
protected:
    // Sends a file request as `from` and carries out whatever it started. True when it was served:
    // a listing was answered or the directory it asked for was made.
    bool served(const std::string& type, const std::string& from)
    {
        const auto target = (dir.path() / ("d" + std::to_string(++requests))).string();
        const auto answered = sentOfType("fs_list_resp").size();
        deliver({{"type", type}, {"from", from}, {"call_id", "c-" + from}, {"path", target}});
        fileWorker.drain();
        return type == "fs_list" ? sentOfType("fs_list_resp").size() > answered : std::filesystem::exists(target);
    }

    tavoro::test::TempDir dir;
    int requests = 0;
};

TEST_F(FileServiceTest, OnlyControllersOfTheHostedSessionWhoMayControlAreServed)
{
    struct Row {
        std::string from;
        int permission;
        bool served;
    };
    const std::vector<Row> duringSession{
        {kCaller, 2, true},
        {kViewer, 2, true},
        {kStranger, 2, false},
        {"", 2, false},
        {kCaller, 1, false},
        {kViewer, 0, false},
    };
    startOnline();
    deliver(call(kCaller));
    deliver(call(kViewer));
    ASSERT_EQ(answersTo(kViewer), std::vector<std::string>{"accepted"});
    for (const auto* type : {"fs_list", "fs_mkdir"}) {
        for (const auto& row : duringSession) {
            controller->setPermission(row.permission);
            EXPECT_EQ(served(type, row.from), row.served) << type << " from " << row.from << " perm " << row.permission;
        }
    }

    controller->setPermission(2);
    controller->endHost();
    mainQueue.drain();
    for (const auto* type : {"fs_list", "fs_mkdir"}) {
        EXPECT_FALSE(served(type, kCaller)) << type << " after the session ended";
    }
}

TEST_F(FileServiceTest, ListingsAreTakenOnlyFromThePeerTheWindowBrowses)
{
    startOnline();
    controller->openFileBrowser();
    EXPECT_EQ(controller->status.get(), "需先建立会话才能传文件");
    EXPECT_EQ(controller->remoteBrowser.get(), nullptr);

    deliver(call(kCaller));
    controller->openFileBrowser();
    auto browser = controller->remoteBrowser.get();
    ASSERT_NE(browser, nullptr);
    const auto requests = sentOfType("fs_list");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]["to"], kCaller);
    EXPECT_EQ(requests[0]["call_id"], "c-" + kCaller);
    EXPECT_EQ(requests[0]["path"], "");

    const json entries = json::array({{{"name", "a.txt"}, {"dir", false}, {"size", 3}, {"mtime", 1}}});
    deliver({{"type", "fs_list_resp"}, {"from", kStranger}, {"path", "/etc"}, {"entries", entries}});
    EXPECT_TRUE(browser->loading.get());
    EXPECT_TRUE(browser->entries.get().empty());

    deliver({{"type", "fs_list_resp"}, {"from", kCaller}, {"path", "/"}, {"entries", entries}});
    EXPECT_FALSE(browser->loading.get());
    EXPECT_EQ(browser->path.get(), "/");
    EXPECT_EQ(browser->entries.get(), (std::vector<files::FsEntry>{{"a.txt", false, 3, 1}}));
}

} // namespace
} // namespace tavoro::app
