#include "platform/posix/atomic_file.h"
#include "platform/posix/config_dir.h"
#include "platform/posix/json_file_settings_store.h"
#include "core/log.h"
#include "platform/fake/manual_clock.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tavoro::platform {
namespace {

std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::filesystem::path> keptAside(const std::filesystem::path& dir)
{
    std::vector<std::filesystem::path> aside;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().filename().string().starts_with("settings.json.corrupt-")) {
            aside.push_back(entry.path());
        }
    }
    return aside;
}

TEST(JsonFileSettingsStore, ValuesSurviveARestart)
{
    test::TempDir dir;
    {
        JsonFileSettingsStore store(dir.path() / "nested");
        store.set("device_id", "123456789");
        store.set("phone_alias", std::string("\xc3\x28")); // not UTF-8: refused without losing the rest
        store.set("pw_mode", 1);
        store.set("peer_history", nlohmann::json::array({"987654321"}));
        store.set("temp_pw", "ab12");
        store.remove("temp_pw");
        store.remove("never_set");
    }
    JsonFileSettingsStore reopened(dir.path() / "nested");
    EXPECT_EQ(reopened.get("device_id"), nlohmann::json("123456789"));
    EXPECT_EQ(reopened.get("pw_mode"), nlohmann::json(1));
    EXPECT_EQ(reopened.get("peer_history"), nlohmann::json::array({"987654321"}));
    EXPECT_FALSE(reopened.get("temp_pw").has_value());
    EXPECT_FALSE(reopened.get("phone_alias").has_value());

    struct stat info{};
    ASSERT_EQ(::stat(reopened.filePath().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u) << "the file holds the connection password";
}

TEST(JsonFileSettingsStore, ACrashBeforeTheRenameLeavesTheOldSettingsIntact)
{
    test::TempDir dir;
    {
        JsonFileSettingsStore store(dir.path());
        store.set("device_id", "123456789");
    }
    const auto file = dir.path() / "settings.json";
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        (void)writeFileAtomically(file, R"({"device_id":"555555555"})", [] { ::_exit(0); });
        ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child stopped right before the rename";

    JsonFileSettingsStore reopened(dir.path());
    EXPECT_EQ(reopened.get("device_id"), nlohmann::json("123456789"));
    reopened.set("pw_mode", 2);
    EXPECT_EQ(JsonFileSettingsStore(dir.path()).get("pw_mode"), nlohmann::json(2));
}

TEST(JsonFileSettingsStore, ACorruptFileIsKeptAsideAndDefaultsApply)
{
    for (const std::string contents : {"{\"device_id\": \"12345", "[1,2,3]", "\xff\xfe garbage"}) {
        test::TempDir dir;
        const auto file = dir.path() / "settings.json";
        std::ofstream(file) << contents;
        log::Capture capture;

        JsonFileSettingsStore store(dir.path());
        EXPECT_FALSE(store.get("device_id").has_value());
        EXPECT_EQ(capture.count("Tavoro: 设置文件"), 1u);

        const auto aside = keptAside(dir.path());
        ASSERT_EQ(aside.size(), 1u);
        EXPECT_EQ(readFile(aside[0]), contents) << "what the user had is kept";

        store.set("device_id", "123456789");
        EXPECT_EQ(JsonFileSettingsStore(dir.path()).get("device_id"), nlohmann::json("123456789"));
    }
}

TEST(JsonFileSettingsStore, UnusableValuesAreCopiedAsideOnceAndTheRestKept)
{
    test::TempDir dir;
    const auto file = dir.path() / "settings.json";
    std::ofstream(file) << R"({"device_id":"12345","pw_mode":1})";
    log::Capture capture;
    JsonFileSettingsStore store(dir.path());

    EXPECT_TRUE(store.keepCopyAside("中的设备 ID 无效"));
    store.set("device_id", "123456789");
    EXPECT_TRUE(store.keepCopyAside("中的设备密钥无效")) << "the first copy already holds the original";
    const auto aside = keptAside(dir.path());
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(readFile(aside[0]), R"({"device_id":"12345","pw_mode":1})");
    EXPECT_EQ(capture.count("已另存为"), 1u);
    EXPECT_EQ(JsonFileSettingsStore(dir.path()).get("pw_mode"), nlohmann::json(1));
}

// A folder where the copy would go stands for any refusal (a read-only folder, a full disk).
TEST(JsonFileSettingsStore, AFileThatCannotBeKeptAsideIsLeftUntouchedAndSaidSo)
{
    const std::chrono::system_clock::time_point at{std::chrono::seconds(1'700'000'000)};
    fake::ManualWallClock clock(at);
    for (const std::string& contents : {std::string("{\"device_id\": \"12345"), std::string(R"({"device_id":"12"})")}) {
        test::TempDir dir;
        const auto file = dir.path() / "settings.json";
        std::ofstream(file) << contents;
        std::filesystem::create_directories(dir.path() / "settings.json.corrupt-1700000000" / "taken");
        log::Capture capture;

        JsonFileSettingsStore store(dir.path(), clock);
        EXPECT_FALSE(store.keepCopyAside("中的设备 ID 无效"));
        store.set("device_id", "123456789");
        EXPECT_EQ(store.get("device_id"), nlohmann::json("123456789")) << "changes live for this run";
        EXPECT_EQ(readFile(file), contents) << "the user's file is left as it was";
        EXPECT_EQ(capture.count("无法另存"), 1u);
        EXPECT_EQ(capture.count("已另存为"), 0u) << "no copy is claimed";
    }
}

TEST(ConfigDir, ExplicitFolderThenEnvironmentThenXdgThenHome)
{
    ::setenv("TAVORO_CONFIG_DIR", "/from/env", 1);
    ::setenv("XDG_CONFIG_HOME", "/xdg", 1);
    ::setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(resolveConfigDir(std::string("/explicit")), "/explicit");
    EXPECT_EQ(resolveConfigDir(std::nullopt), "/from/env");
    ::unsetenv("TAVORO_CONFIG_DIR");
    EXPECT_EQ(resolveConfigDir(std::nullopt), "/xdg/tavoro");
    ::setenv("XDG_CONFIG_HOME", "", 1);
    EXPECT_EQ(resolveConfigDir(std::nullopt), "/home/someone/.config/tavoro");
}

} // namespace
} // namespace tavoro::platform
