#include "platform/posix/config_dir.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace tavoro::platform {
namespace {

std::optional<std::string> nonEmptyEnv(const char* name)
{
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') {
        return std::nullopt;
    }
    return std::string(value);
}

std::filesystem::path homeDir()
{
    if (auto home = nonEmptyEnv("HOME")) {
        return *home;
    }
    if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr) {
        return entry->pw_dir;
    }
    return std::filesystem::current_path();
}

} // namespace

std::filesystem::path resolveConfigDir(const std::optional<std::string>& explicitDir)
{
    if (explicitDir && !explicitDir->empty()) {
        return *explicitDir;
    }
    if (auto fromEnv = nonEmptyEnv("TAVORO_CONFIG_DIR")) {
        return *fromEnv;
    }
    if (auto xdg = nonEmptyEnv("XDG_CONFIG_HOME")) {
        return std::filesystem::path(*xdg) / "tavoro";
    }
    return homeDir() / ".config" / "tavoro";
}

} // namespace tavoro::platform
