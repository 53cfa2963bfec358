#include "platform/posix/xdg_user_folders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

namespace tavoro::platform {
namespace {

constexpr std::string_view kBlanks = " \t\r";

std::string_view trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// The value after '=': a double-quoted string with backslash escapes, or a bare word.
std::optional<std::string> unquoted(std::string_view value)
{
    if (value.empty() || value.front() != '"') {
        return std::string(value.substr(0, value.find_first_of(kBlanks)));
    }
    std::string out;
    for (std::size_t i = 1; i < value.size(); ++i) {
        if (value[i] == '"') {
            return out;
        }
        if (value[i] == '\\' && i + 1 < value.size()) {
            ++i;
        }
        out += value[i];
    }
    return std::nullopt; // no closing quote
}

std::optional<std::filesystem::path> expanded(const std::string& value, const std::string& home)
{
    constexpr std::string_view homeVariable = "$HOME";
    if (value.starts_with(homeVariable)) {
        const std::string_view rest = std::string_view(value).substr(homeVariable.size());
        if (!std::filesystem::path(home).is_absolute() || !(rest.empty() || rest.front() == '/')) {
            return std::nullopt;
        }
        return std::filesystem::path(home + std::string(rest));
    }
    if (std::filesystem::path(value).is_absolute()) {
        return std::filesystem::path(value);
    }
    return std::nullopt;
}

std::optional<std::filesystem::path>* slotFor(UserDirs& dirs, std::string_view key)
{
    if (key == "XDG_VIDEOS_DIR") {
        return &dirs.videos;
    }
    if (key == "XDG_PICTURES_DIR") {
        return &dirs.pictures;
    }
    if (key == "XDG_DOWNLOAD_DIR") {
        return &dirs.downloads;
    }
    return nullptr;
}

std::string envOrEmpty(const char* name)
{
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

std::string readFile(const std::optional<std::filesystem::path>& path)
{
    if (!path) {
        return {};
    }
    std::ifstream in(*path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::filesystem::path temporaryFolder(const XdgEnvironment& env)
{
    const std::filesystem::path tmp(env.tmpDir);
    return tmp.is_absolute() ? tmp : std::filesystem::path("/tmp");
}

std::filesystem::path chosen(const std::optional<std::filesystem::path>& named, const std::string& home,
    const char* homeSubfolder, const std::filesystem::path& temporary)
{
    if (named) {
        return *named;
    }
    if (std::filesystem::path(home).is_absolute()) {
        return std::filesystem::path(home) / homeSubfolder;
    }
    return temporary;
}

// The home directory the user database gives this process's user; empty when it has none.
std::string accountHome()
{
    std::vector<char> buffer(16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
        found->pw_dir == nullptr) {
        return {};
    }
    return found->pw_dir;
}

} // namespace

XdgEnvironment XdgEnvironment::fromProcess()
{
    auto home = envOrEmpty("HOME");
    return {home.empty() ? accountHome() : home, envOrEmpty("XDG_CONFIG_HOME"), envOrEmpty("TMPDIR")};
}

UserDirs parseUserDirs(std::string_view text, const std::string& home)
{
    UserDirs dirs;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line = trimmed(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);

        const auto equals = line.find('=');
        if (line.starts_with('#') || equals == std::string_view::npos) {
            continue;
        }
        auto* slot = slotFor(dirs, trimmed(line.substr(0, equals)));
        if (slot == nullptr) {
            continue;
        }
        if (auto value = unquoted(trimmed(line.substr(equals + 1)))) {
            if (auto path = expanded(*value, home)) {
                *slot = std::move(path);
            }
        }
    }
    return dirs;
}

std::optional<std::filesystem::path> userDirsFile(const XdgEnvironment& env)
{
    const std::filesystem::path configHome(env.configHome);
    if (configHome.is_absolute()) {
        return configHome / "user-dirs.dirs";
    }
    const std::filesystem::path home(env.home);
    if (home.is_absolute()) {
        return home / ".config" / "user-dirs.dirs";
    }
    return std::nullopt;
}

XdgUserFolders::XdgUserFolders() : XdgUserFolders(XdgEnvironment::fromProcess()) {}

XdgUserFolders::XdgUserFolders(const XdgEnvironment& env)
    : XdgUserFolders(env, parseUserDirs(readFile(userDirsFile(env)), env.home))
{
}

XdgUserFolders::XdgUserFolders(const XdgEnvironment& env, const UserDirs& dirs)
    : home_(std::filesystem::path(env.home).is_absolute() ? std::filesystem::path(env.home) : "/"),
      videos_(chosen(dirs.videos, env.home, "Videos", temporaryFolder(env))),
      pictures_(chosen(dirs.pictures, env.home, "Pictures", temporaryFolder(env))),
      downloads_(chosen(dirs.downloads, env.home, "Downloads", temporaryFolder(env))),
      temporary_(temporaryFolder(env))
{
}

} // namespace tavoro::platform
