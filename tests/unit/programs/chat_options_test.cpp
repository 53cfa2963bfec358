#include "programs/tavoro-cli/chat_options.h"

#include "parse_command.h"

#include <gtest/gtest.h>

namespace tavoro::cli {
namespace {

// Parses "tavoro-cli chat …"; nullopt when the command line is refused.
std::optional<ChatOptions> parse(std::vector<std::string> args)
{
    args.insert(args.begin(), "chat");
    return parseCommand<ChatOptions>(addChatCommand, std::move(args));
}

TEST(ChatOptions, EachSendTakesOneTextInOrder)
{
    auto options = parse({"123456789", "--password", "pw", "--send", "你好 😀", "--send", " -x ", "--listen", "2.5"});
    ASSERT_TRUE(options);
    EXPECT_EQ(options->texts, (std::vector<std::string>{"你好 😀", " -x "}));
    const auto session = chatSession(*options);
    EXPECT_EQ(session.target, "123456789");
    EXPECT_EQ(session.password, "pw");
    EXPECT_EQ(session.mode, "view");
    EXPECT_EQ(session.seconds, 2.5);

    EXPECT_FALSE(parse({"123456789", "--password", "pw", "--send", "a", "b"})) << "one text per --send";
    EXPECT_FALSE(parse({"123456789", "--password", "pw", "--listen", "-1"}));
    EXPECT_EQ(chatSession(*parse({"123456789", "--password", "pw"})).seconds, 0.0);
}

} // namespace
} // namespace tavoro::cli
