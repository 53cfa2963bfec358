#pragma once

#include "control/media_file.h"
#include "core/clock.h"
#include "platform/user_folders.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace tavoro::control {

// The recording of one session: the H.264 stream exactly as it arrives, as a raw Annex-B file.
// Threads: any; one mutex guards all of its state (the open file, the last file's path, the byte
// count and the write failure), so that no write goes to a file being closed. The texts returned
// are the session window's notices.
class Recording {
public:
    Recording(const platform::UserFolders& folders, const core::WallClock& wallClock);
    ~Recording();

    // Starts a new file (see openUniqueMediaFile) in the videos folder, created when missing, else in
    // the temporary folder: "● 录制中：{file}", or "✗ 录像无法创建文件". A file still open is closed
    // first.
    std::string start();
    // Starts at the given path, replacing a file there.
    std::string startAt(const std::filesystem::path& path);
    // Appends one access unit; nothing when no file is open. A failed or short write closes the file,
    // keeping what was written, and is reported by stop().
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

// Writes a screenshot's PNG bytes, flushed to disk, as a new file (see openUniqueMediaFile) in the
// pictures folder, created when missing, or at `path` when given, replacing a file there:
// "✓ 截图已保存：{file}" or "✗ 截图保存失败". A failed write leaves no file behind. Any thread.
std::string saveScreenshot(std::span<const std::uint8_t> png, const platform::UserFolders& folders,
    const core::WallClock& wallClock, const std::optional<std::filesystem::path>& path = std::nullopt);

} // namespace tavoro::control
