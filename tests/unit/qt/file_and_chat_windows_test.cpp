#include "app/controller_fixture.h"
#include "platform/fake/fake_control_media.h"
#include "platform/fake/fixed_user_folders.h"
#include "platform/null_audio_sink.h"
#include "qt/run_events.h"
#include "support/temp_dir.h"
#include "ui/chat/chat_window_host.h"
#include "ui/files/file_window_host.h"

#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTreeWidget>

#include <fstream>

namespace tavoro::app::test {
namespace {

using nlohmann::json;

const std::string kHost = "222222222";
const std::string kOther = "333333333";

// The windows on a controller that places calls, with the user's folders in a temporary folder.
class SessionWindowsTest : public ControllerTest {
protected:
    SessionWindowsTest()
    {
        controlMedia = &media;
        settings.set("device_id", "123456789");
        folders.homePath = home.path();
        folders.downloadsPath = downloads.path();
        folders.temporaryPath = downloads.path();
        userFolders = &folders;
    }
    ~SessionWindowsTest() override
    {
        if (controller) {
            controller->endControl();
        }
    }

    // Calls kHost and lets it accept; returns the session's call ID.
    std::string startSession()
    {
        controller->connectToPeer(kHost, "pw12", "control");
        mainQueue.drain();
        const std::string callId = sentOfType("call").back()["call_id"];
        deliver({{"type", "call_response"}, {"from", kHost}, {"call_id", callId}, {"accepted", true}});
        return callId;
    }

    template <typename Widget>
    static Widget& child(QWidget& window, const char* name)
    {
        auto* widget = window.findChild<Widget*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return *widget;
    }
    static void click(QWidget& window, const char* name) { child<QPushButton>(window, name).click(); }
    static std::vector<std::string> rows(QTreeWidget& list, int column)
    {
        std::vector<std::string> texts;
        for (int i = 0; i < list.topLevelItemCount(); ++i) {
            texts.push_back(list.topLevelItem(i)->text(column).toStdString());
        }
        return texts;
    }
    static void select(QTreeWidget& list, const QString& text)
    {
        list.clearSelection();
        for (auto* item : list.findItems(text, Qt::MatchContains)) {
            item->setSelected(true);
        }
    }

    tavoro::test::TempDir home;
    tavoro::test::TempDir downloads;
    platform::fake::FixedUserFolders folders;
    platform::fake::NoH264Decoders decoders;
    platform::fake::TinyImageCodec images;
    platform::NullAudioSinkFactory audio;
    control::ControlMedia media{decoders, images, audio, folders,
        std::make_shared<platform::fake::ManualSerialQueue>(), std::make_shared<platform::fake::ManualSerialQueue>()};
};

TEST_F(SessionWindowsTest, TheRemotePaneListsThePeersFolderAndDownloadsLandInTheLocalOne)
{
    startOnline();
    ui::FileWindowHost files(*controller, home.path().string());
    files.open();
    EXPECT_EQ(files.window(), nullptr) << "no peer to browse";
    EXPECT_EQ(controller->status.get(), "需先建立会话才能传文件");

    const auto callId = startSession();
    files.open();
    ASSERT_NE(files.window(), nullptr);
    auto& window = *files.window();
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(child<QLabel>(window, "localPath").text().toStdString(), home.path().string());
    EXPECT_EQ(child<QLabel>(window, "remoteNotice").text().toStdString(), "正在读取对方文件…");

    const json entries = json::array({{{"name", "docs"}, {"dir", true}, {"size", 4096}, {"mtime", 1}},
        {{"name", "a.txt"}, {"dir", false}, {"size", 1536}, {"mtime", 2}}});
    deliver({{"type", "fs_list_resp"}, {"from", kHost}, {"path", "/data"}, {"entries", entries}});
    auto& remote = child<QTreeWidget>(window, "remoteList");
    EXPECT_EQ(child<QStackedWidget>(window, "remoteStack").currentWidget(), &remote);
    EXPECT_EQ(rows(remote, 0), (std::vector<std::string>{"📁 docs", "a.txt"}));
    EXPECT_EQ(rows(remote, 1), (std::vector<std::string>{"", "1.5 KB"}));
    EXPECT_EQ(child<QLabel>(window, "remotePath").text().toStdString(), "/data");

    select(remote, "a.txt");
    click(window, "download");
    const auto gets = sentOfType("fs_get");
    ASSERT_EQ(gets.size(), 1u);
    EXPECT_EQ(gets[0]["to"], kHost);
    EXPECT_EQ(gets[0]["call_id"], callId);
    EXPECT_EQ(gets[0]["src_path"], "/data/a.txt");
    EXPECT_EQ(gets[0]["dest_dir"], home.path().string());

    // The host answers with the file for that folder, which the controller now lets it fill.
    const auto fromHost = [&](json fields) {
        fields.update({{"from", kHost}, {"call_id", callId}, {"xfer_id", 7}});
        deliver(fields);
    };
    fromHost({{"type", "file_xfer_start"}, {"name", "a.txt"}, {"size", 3}, {"dest_dir", home.path().string()}});
    fromHost({{"type", "file_xfer_chunk"}, {"offset", 0}, {"data_b64", "YWJj"}});
    fromHost({{"type", "file_xfer_done"}, {"ok", true}, {"sent", 3}});
    std::ifstream received(home.path() / "a.txt");
    std::string content;
    received >> content;
    EXPECT_EQ(content, "abc");
    auto& transfers = child<QTreeWidget>(window, "transfers");
    EXPECT_EQ(rows(transfers, 0), std::vector<std::string>{"⬇ a.txt"});
    EXPECT_EQ(rows(transfers, 1), std::vector<std::string>{"完成"});
}

TEST_F(SessionWindowsTest, DeletingAsksFirstAndNeedsASession)
{
    std::vector<QString> questions;
    bool confirm = false;
    ui::FileWindowPrompts prompts{[&](QWidget*, const QString& question) {
                                      questions.push_back(question);
                                      return confirm;
                                  },
        [](QWidget*) { return std::optional<QString>(); }};
    startOnline();
    startSession();
    ui::FileWindowHost files(*controller, home.path().string(), prompts);
    files.open();
    ASSERT_NE(files.window(), nullptr);
    auto& window = *files.window();
    const json entries = json::array({{{"name", "docs"}, {"dir", true}}, {{"name", "a.txt"}, {"size", 3}}});
    deliver({{"type", "fs_list_resp"}, {"from", kHost}, {"path", "/data"}, {"entries", entries}});
    select(child<QTreeWidget>(window, "remoteList"), "docs");

    click(window, "delete");
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_TRUE(questions[0].contains("docs"));
    EXPECT_TRUE(questions[0].contains(QString::fromUtf8("连同其中的全部内容")));
    EXPECT_TRUE(sentOfType("fs_delete").empty()) << "cancelled";

    confirm = true;
    click(window, "delete");
    const auto deletes = sentOfType("fs_delete");
    ASSERT_EQ(deletes.size(), 1u);
    EXPECT_EQ(deletes[0]["paths"], json::array({"/data/docs"}));

    deliver({{"type", "bye"}, {"from", kHost}, {"reason", "host_close"}});
    EXPECT_EQ(child<QLabel>(window, "remoteNotice").text().toStdString(), "没有进行中的会话，无法浏览对方的文件");
    for (const auto* action : {"delete", "download", "upload", "newFolder", "remoteUp", "remoteRefresh"}) {
        EXPECT_FALSE(child<QPushButton>(window, action).isEnabled()) << action;
    }
}

class ChatWindowTest : public SessionWindowsTest {
protected:
    static void pressReturn(QWidget& target)
    {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QCoreApplication::sendEvent(&target, &press);
    }
};

TEST_F(ChatWindowTest, TheDraftIsClearedOnlyByASendThatWentOut)
{
    startOnline();
    ui::ChatWindowHost chat(*controller);
    chat.open();
    auto& window = *chat.window();
    auto& composer = child<QPlainTextEdit>(window, "composer");
    auto& send = child<QPushButton>(window, "send");

    composer.setPlainText("  hello\n");
    pressReturn(composer);
    EXPECT_FALSE(send.isEnabled()) << "no one to send to";
    EXPECT_EQ(composer.toPlainText().toStdString(), "  hello\n");
    EXPECT_TRUE(sentOfType("push_msg").empty());

    const auto callId = startSession();
    ASSERT_TRUE(send.isEnabled());
    pressReturn(composer);
    const auto sent = sentOfType("push_msg");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], (json{{"type", "push_msg"}, {"seq", sent[0]["seq"]}, {"to", kHost}, {"call_id", callId},
                           {"text", "hello"}, {"display", "banner"}, {"require_ack", false}}));
    EXPECT_TRUE(composer.toPlainText().isEmpty());
    EXPECT_EQ(child<QListWidget>(window, "conversation").count(), 1);

    const QString tooLong = QString(100, 'x').append('\n').repeated(10'000);
    composer.setPlainText(tooLong);
    send.click();
    EXPECT_EQ(child<QLabel>(window, "chatNotice").text().toStdString(), chat::kTextTooLong);
    EXPECT_EQ(composer.toPlainText(), tooLong);
    EXPECT_EQ(sentOfType("push_msg").size(), 1u);
}

TEST_F(ChatWindowTest, OpeningTheChatClearsTheUnreadMark)
{
    startOnline();
    deliver({{"type", "push_msg"}, {"from", kOther}, {"text", "hi"}});
    ASSERT_TRUE(controller->chat().unread.get());
    ui::ChatWindowHost chat(*controller);
    chat.open();
    EXPECT_FALSE(controller->chat().unread.get());

    auto& peers = child<QListWidget>(*chat.window(), "peers");
    ASSERT_EQ(peers.count(), 1);
    peers.item(0)->setSelected(true);
    auto& conversation = child<QListWidget>(*chat.window(), "conversation");
    ASSERT_EQ(conversation.count(), 1);
    EXPECT_EQ(conversation.item(0)->text().toStdString(), "hi");

    ASSERT_TRUE(tavoro::test::runEventsUntil([&] { return chat.window()->isActiveWindow(); }));
    deliver({{"type", "push_msg"}, {"from", kOther}, {"text", "again"}});
    EXPECT_EQ(conversation.count(), 2);
    EXPECT_TRUE(tavoro::test::runEventsUntil([&] { return !controller->chat().unread.get(); }))
        << "read as it arrives in the active window";
}

} // namespace
} // namespace tavoro::app::test
