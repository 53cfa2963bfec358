#pragma once

#include "platform/user_folders.h"

#include <optional>
#include <string>
#include <string_view>

namespace tavoro::platform {

// The environment values the folders depend on; empty when unset.
struct XdgEnvironment {
    std::string home;       // $HOME, else the home directory of the user's account
    std::string configHome; // $XDG_CONFIG_HOME
    std::string tmpDir;     // $TMPDIR

    static XdgEnvironment fromProcess();
};

// The folders named in a user-dirs.dirs file.
struct UserDirs {
    std::optional<std::filesystem::path> videos;    // XDG_VIDEOS_DIR
    std::optional<std::filesystem::path> pictures;  // XDG_PICTURES_DIR
    std::optional<std::filesystem::path> downloads; // XDG_DOWNLOAD_DIR
};

// Reads user-dirs.dirs text: lines KEY="value" (quotes optional), '#' comments, a value either absolute
// or starting with $HOME (expanded with `home`, and ignored when home is not absolute). Relative values
// and unknown keys are ignored; the last line for a key wins.
UserDirs parseUserDirs(std::string_view text, const std::string& home);

// $XDG_CONFIG_HOME/user-dirs.dirs, else $HOME/.config/user-dirs.dirs; nothing without either.
std::optional<std::filesystem::path> userDirsFile(const XdgEnvironment& env);

// The user's folders: the home folder ("/" when it is not an absolute path), and the others as the
// XDG user directories name them: the folder from user-dirs.dirs, else $HOME/Videos, $HOME/Pictures
// or $HOME/Downloads, else the temporary folder ($TMPDIR, else /tmp).
// Resolved once at construction; any thread after that.
class XdgUserFolders final : public UserFolders {
public:
    // From the process environment and the user's user-dirs.dirs.
    XdgUserFolders();
    // From `env` and the user-dirs.dirs it points to.
    explicit XdgUserFolders(const XdgEnvironment& env);
    XdgUserFolders(const XdgEnvironment& env, const UserDirs& dirs);

    std::filesystem::path home() const override { return home_; }
    std::filesystem::path videos() const override { return videos_; }
    std::filesystem::path pictures() const override { return pictures_; }
    std::filesystem::path downloads() const override { return downloads_; }
    std::filesystem::path temporary() const override { return temporary_; }

private:
    std::filesystem::path home_;
    std::filesystem::path videos_;
    std::filesystem::path pictures_;
    std::filesystem::path downloads_;
    std::filesystem::path temporary_;
};

} // namespace tavoro::platform
