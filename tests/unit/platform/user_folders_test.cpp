#include "platform/posix/xdg_user_folders.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>

namespace tavoro::platform {
namespace {

using OptionalPath = std::optional<std::filesystem::path>;

TEST(ParseUserDirs, ReadsTheThreeFoldersTheWayXdgUserDirsWritesThem)
{
    struct Case {
        const char* text;
        const char* home;
        OptionalPath videos;
        OptionalPath pictures;
        OptionalPath downloads;
    };
    const Case cases[] = {
        {"# written by xdg-user-dirs-update\n"
         "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
         "XDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n"
         "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n"
         "XDG_VIDEOS_DIR=\"$HOME/Videos\"\n",
            "/home/u", "/home/u/Videos", "/home/u/Bilder", "/home/u/Downloads"},
        {"XDG_VIDEOS_DIR=\"/media/films\"\r\n  XDG_PICTURES_DIR = \"$HOME\"  # the home folder itself\n",
            "/home/u", "/media/films", "/home/u", std::nullopt},
        {"XDG_VIDEOS_DIR=/srv/videos\nXDG_DOWNLOAD_DIR=\"/srv/my \\\"files\\\"\"\n", "/home/u", "/srv/videos",
            std::nullopt, "/srv/my \"files\""},
        // relative values, unknown variables, an unclosed quote, $HOME without a home
        {"XDG_VIDEOS_DIR=\"Videos\"\nXDG_PICTURES_DIR=\"$HOMEPAGE/x\"\nXDG_DOWNLOAD_DIR=\"/unterminated\n",
            "/home/u", std::nullopt, std::nullopt, std::nullopt},
        {"XDG_VIDEOS_DIR=\"$HOME/Videos\"\nXDG_PICTURES_DIR=\"/pics\"", "", std::nullopt, "/pics", std::nullopt},
        {"# XDG_VIDEOS_DIR=\"/commented\"\nXDG_VIDEOS_DIR=\"/first\"\nXDG_VIDEOS_DIR=\"/last\"\n", "/home/u",
            "/last", std::nullopt, std::nullopt},
        {"", "/home/u", std::nullopt, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        const UserDirs dirs = parseUserDirs(c.text, c.home);
        EXPECT_EQ(dirs.videos, c.videos) << c.text;
        EXPECT_EQ(dirs.pictures, c.pictures) << c.text;
        EXPECT_EQ(dirs.downloads, c.downloads) << c.text;
    }
}

TEST(XdgUserFolders, FallsBackToTheHomeFolderThenToTheTemporaryFolder)
{
    struct Case {
        XdgEnvironment env;
        UserDirs named;
        const char* home;
        const char* videos;
        const char* pictures;
        const char* downloads;
        const char* temporary;
    };
    const Case cases[] = {
        {{"/home/u", "", ""}, {}, "/home/u", "/home/u/Videos", "/home/u/Pictures", "/home/u/Downloads", "/tmp"},
        {{"/home/u", "", "/var/tmp"}, {"/v", "/p", "/d"}, "/home/u", "/v", "/p", "/d", "/var/tmp"},
        {{"", "", "/var/tmp"}, {}, "/", "/var/tmp", "/var/tmp", "/var/tmp", "/var/tmp"},
        {{"relative/home", "", "relative/tmp"}, {}, "/", "/tmp", "/tmp", "/tmp", "/tmp"},
    };
    for (const auto& c : cases) {
        const XdgUserFolders folders(c.env, c.named);
        EXPECT_EQ(folders.home(), c.home) << c.env.home;
        EXPECT_EQ(folders.videos(), c.videos) << c.env.home << " " << c.env.tmpDir;
        EXPECT_EQ(folders.pictures(), c.pictures) << c.env.home << " " << c.env.tmpDir;
        EXPECT_EQ(folders.downloads(), c.downloads) << c.env.home << " " << c.env.tmpDir;
        EXPECT_EQ(folders.temporary(), c.temporary) << c.env.home << " " << c.env.tmpDir;
    }
}

TEST(XdgUserFolders, ReadsUserDirsFromTheConfigFolder)
{
    EXPECT_EQ(userDirsFile({"/home/u", "/cfg", ""}), "/cfg/user-dirs.dirs");
    EXPECT_EQ(userDirsFile({"/home/u", "relative", ""}), "/home/u/.config/user-dirs.dirs");
    EXPECT_EQ(userDirsFile({"", "", ""}), std::nullopt);

    test::TempDir dir;
    const XdgEnvironment env{"/home/u", dir.path().string(), ""};
    EXPECT_EQ(XdgUserFolders(env).videos(), "/home/u/Videos") << "no user-dirs.dirs yet";
    std::ofstream(dir.path() / "user-dirs.dirs") << "XDG_VIDEOS_DIR=\"$HOME/Filme\"\n";
    EXPECT_EQ(XdgUserFolders(env).videos(), "/home/u/Filme");
}

} // namespace
} // namespace tavoro::platform
