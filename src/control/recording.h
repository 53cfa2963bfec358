#pragma once

#include "core/clock.h"
#include "platform/user_folders.h"

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <span>
#include <string>

namespace tavoro::control {

// "Tavoro-" + local time as yyyyMMdd-HHmmss + extension (".h264", ".png").
std::string mediaFileName(std::chrono::system_clock::time_point when, const std::string& extension);

// Creates a new empty file named mediaFileName() in `folder`, never replacing one: a name already taken
// gets "-2", "-3", … before the extension. Nothing when no file could be created.
std::optional<std::filesystem::path> createUniqueMediaFile(const std::filesystem::path& folder,
    std::chrono::system_clock::time_point when, const std::string& extension);

// The recording of one session: the H.264 stream exactly as it arrives, as a raw Annex-B file.
// Threads: any; one mutex guards the file, so that no write goes to a file being closed. The
// texts returned are the session window's notices.
class Recording {
public:
    Recording(const platform::UserFolders& folders, const core::WallClock& wallClock);
    ~Recording();

    // Starts a new file in the videos folder (created when missing, else the temporary folder):
    // "● 录制中：{file}", or "✗ 录像无法创建文件".
    std::string start();
    // Starts at the given path, replacing a file there.
    std::string startAt(const std::filesystem::path& path);
    // Appends one access unit. A failed write stops the recording; what was written stays.
    void write(std::span<const std::uint8_t> accessUnit);
    // Closes the file: "✓ 录像已保存：{file}", "录制已停止" when there never was a file, or
    // "✗ 录像写入失败：{file}（已保留写入的部分）" when a write failed.
    std::string stop();
    // Closes the file silently (the session ends).
    void close();
    bool isOpen() const;
    std::optional<std::filesystem::path> lastFile() const;
    std::uint64_t bytesWritten() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Writes a screenshot's PNG bytes as a new file in the pictures folder (see createUniqueMediaFile), or at
// `path` when given: "✓ 截图已保存：{file}" or "✗ 截图保存失败". A failed write leaves no file behind.
std::string saveScreenshot(std::span<const std::uint8_t> png, const platform::UserFolders& folders,
    const core::WallClock& wallClock, const std::optional<std::filesystem::path>& path = std::nullopt);

} // namespace tavoro::control
