#include "programs/tavoro-cli/file_options.h"

#include "parse_command.h"

#include <gtest/gtest.h>

namespace tavoro::cli {
namespace {

std::optional<FileOptions> parse(std::vector<std::string> args)
{
    return parseCommand<FileOptions>(addFileCommands, std::move(args));
}

TEST(FileOptions, EachCommandTakesItsPathsAndFolder)
{
    const std::string self = "/proc/self/exe"; // a file that exists, for put
    struct Case {
        std::vector<std::string> args;
        FileAction action;
        std::string path;
        std::vector<std::string> items;
        std::string dir;
        bool yes;
    } cases[] = {
        {{"ls", "123456789", "--password", "pw", "/home/u"}, FileAction::List, "/home/u", {}, "", false},
        {{"get", "123456789", "/etc/hosts", "--password", "pw", "out"}, FileAction::Get, "/etc/hosts", {}, "out", false},
        {{"put", "123456789", "--password", "pw", self}, FileAction::Put, self, {}, "", false},
        {{"mkdir", "123456789", "--password", "pw", "/tmp/新建"}, FileAction::MakeDirectory, "/tmp/新建", {}, "", false},
        {{"rm", "123456789", "--password", "pw", "-y", "/tmp/a", "/tmp/b"}, FileAction::Remove, "", {"/tmp/a", "/tmp/b"}, "",
            true},
    };
    for (const auto& c : cases) {
        const auto options = parse(c.args);
        ASSERT_TRUE(options) << c.args[0];
        EXPECT_EQ(options->action, c.action) << c.args[0];
        EXPECT_EQ(options->path, c.path) << c.args[0];
        EXPECT_EQ(options->items, c.items) << c.args[0];
        EXPECT_EQ(options->dir, c.dir) << c.args[0];
        EXPECT_EQ(options->yes, c.yes) << c.args[0];
        EXPECT_EQ(fileSession(*options).mode, "file");
    }
    EXPECT_FALSE(parse({"ls", "123456789", "/"})) << "the password is required";
    EXPECT_FALSE(parse({"put", "123456789", "--password", "pw", "/no/such/file"}));
    EXPECT_FALSE(parse({"rm", "123456789", "--password", "pw"})) << "nothing to delete";
}

} // namespace
} // namespace tavoro::cli
