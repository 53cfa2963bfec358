#include "chat/chat_store.h"
#include "chat/chat_text.h"
#include "chat/incoming_chat_lines.h"
#include "platform/fake/manual_main_queue.h"
#include "support/recording_sender.h"

#include <gtest/gtest.h>

#include <thread>

namespace tavoro::chat {
namespace {

class ChatStoreTest : public ::testing::Test {
protected:
    platform::fake::ManualMainQueue mainQueue;
    test::RecordingSender sender;
    int nextId = 0;
    std::shared_ptr<ChatStore> store =
        ChatStore::create(sender, mainQueue, [this] { return "m" + std::to_string(++nextId); });

    // Runs f on another thread, as the signaling queue would.
    template <typename F>
    void offMain(F f)
    {
        std::thread(f).join();
    }
};

TEST_F(ChatStoreTest, SendingToANewPeerSendsThePushMsgAndStartsItsConversation)
{
    store->receive("111111111", "earlier");
    EXPECT_EQ(store->send("222222222", "c1", "hi"), std::nullopt);

    const auto sent = sender.texts();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], (nlohmann::json{{"type", "push_msg"}, {"to", "222222222"}, {"call_id", "c1"}, {"text", "hi"},
                           {"display", "banner"}, {"require_ack", false}}));
    EXPECT_EQ(store->peers.get(), (std::vector<std::string>{"111111111", "222222222"}));
    EXPECT_EQ(store->conversations.get().at("222222222"), (std::vector<ChatMsg>{{"m2", true, "hi"}}));
}

TEST_F(ChatStoreTest, EmptyRecipientOrTextDoesNothing)
{
    for (auto [to, from, text] : {std::tuple{"", "", "hi"}, std::tuple{"222222222", "222222222", ""}}) {
        EXPECT_EQ(store->send(to, "", text), std::nullopt);
        store->receive(from, text);
    }
    EXPECT_TRUE(sender.texts().empty());
    EXPECT_TRUE(store->peers.get().empty());
    EXPECT_TRUE(store->conversations.get().empty());
    EXPECT_FALSE(store->unread.get());
}

TEST_F(ChatStoreTest, ReceivedMessagesKeepArrivalOrderAndSetUnreadUntilCleared)
{
    store->send("111111111", "", "first");
    offMain([&] {
        store->receive("222222222", "one");
        store->receive("222222222", "two");
    });
    EXPECT_TRUE(store->conversations.get().count("222222222") == 0) << "stored on the main thread only";

    mainQueue.drain();
    EXPECT_EQ(store->peers.get(), (std::vector<std::string>{"111111111", "222222222"}));
    EXPECT_EQ(store->conversations.get().at("222222222"),
        (std::vector<ChatMsg>{{"m2", false, "one"}, {"m3", false, "two"}}));
    EXPECT_TRUE(store->unread.get());

    store->clearUnread();
    EXPECT_FALSE(store->unread.get());
}

TEST_F(ChatStoreTest, ATextTooLongForTheServerIsRefusedUnsentAndUnstored)
{
    const std::string fits(kMaxPushMsgBytes - 200, 'a');
    const std::string tooLong(kMaxPushMsgBytes, 'a');
    const std::string escapedTooLong(kMaxPushMsgBytes / 5, '\x01'); // "\u0001" in JSON: six bytes each

    EXPECT_EQ(store->send("111111111", "c1", fits), std::nullopt);
    EXPECT_EQ(store->send("111111111", "c1", tooLong), kTextTooLong);
    EXPECT_EQ(store->send("111111111", "c1", escapedTooLong), kTextTooLong);

    EXPECT_EQ(sender.texts().size(), 1u);
    EXPECT_EQ(store->conversations.get().at("111111111").size(), 1u);
}

TEST_F(ChatStoreTest, MessagesPostedBeforeTheStoreEndsAreDropped)
{
    offMain([&] { store->receive("222222222", "late"); });
    store.reset();
    EXPECT_EQ(mainQueue.drain(), 1);
}

TEST(ChatTextTest, TrimDraftRemovesWhiteSpaceAndLineBreaksAtBothEndsOnly)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"  ", ""},
        {"", ""},
        {" \t\r\n hi \n", "hi"},
        {"\u3000你好\u3000", "你好"},
        {"\u00A0a b\u2029", "a b"},
        {"a\n\nb", "a\n\nb"},
        {" 😀 ", "😀"},
        {"\x01 x \x01", "\x01 x \x01"},
        {" \xFF ", "\xFF"},
    };
    for (const auto& [draft, sent] : cases) {
        EXPECT_EQ(trimDraft(draft), sent) << draft;
    }
}

TEST(ChatTextTest, PrintableTextRemovesControlCharacters)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"你好 😀", "你好 😀"},
        {"a\x1b[31mb\x07", "a[31mb"},
        {"line\r\nnext\ttab\x7f", "linenexttab"},
        {"c1\u0085\u009bx", "c1x"},
        {"\xFF\xFE ok", "\xFF\xFE ok"},
    };
    for (const auto& [text, printed] : cases) {
        EXPECT_EQ(printableText(text), printed) << text;
    }
}

TEST(IncomingChatLinesTest, GivesEachReceivedMessageOnceWithoutControlCharacters)
{
    IncomingChatLines lines;
    Conversations conversations{{"111111111", {{"1", true, "mine"}, {"2", false, "hi\x1b"}}}};
    EXPECT_EQ(lines.take(conversations), (std::vector<std::string>{"111111111: hi"}));

    conversations["111111111"].push_back({"3", false, "again"});
    conversations["222222222"].push_back({"4", false, "新"});
    EXPECT_EQ(lines.take(conversations), (std::vector<std::string>{"111111111: again", "222222222: 新"}));
    EXPECT_TRUE(lines.take(conversations).empty());
}

} // namespace
} // namespace tavoro::chat
