#pragma once

#include "core/unique_fd.h"
#include "files/received_ranges.h"
#include "files/sha256.h"
#include "platform/user_folders.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace tavoro::files {

// Writes one incoming file. The content goes into a hidden temporary file beside the target
// (".NAME.ID.tavoro-tmp"), which replaces the target only once every byte has arrived, been written
// and flushed to disk. A transfer that ends any other way leaves the target untouched and keeps what
// arrived as "NAME.part" (replacing an older one); nothing arrived, nothing is kept.
//
// Threads: one thread at a time (the owner serialises calls).
class FileReceiver {
public:
    enum class WriteResult { written, outOfRange, failed };

    // Opens the temporary file for `name` (already a plain file name) in `dir`, creating the directory
    // if needed. nullptr when the file cannot be created.
    static std::unique_ptr<FileReceiver> create(const std::filesystem::path& dir, const std::string& name,
        std::int64_t size, std::int64_t transferId);

    // The directory a peer's destination text stands for: backslashes become "/", runs of "/" collapse;
    // an absolute path naming an existing directory is used as it is; anything else ("", "%DESKTOP%",
    // a relative or missing path) gives the Downloads folder, or the temporary folder without one.
    static std::filesystem::path resolveDir(const std::string& destDir, const platform::UserFolders& folders);

    // True when the file system holding `dir` has room for `bytes` more.
    static bool hasRoomFor(const std::filesystem::path& dir, std::int64_t bytes);

    ~FileReceiver();
    FileReceiver(const FileReceiver&) = delete;
    FileReceiver& operator=(const FileReceiver&) = delete;

    // Writes bytes at offset. A range outside [0, size) is not written; a failed write (full disk, I/O
    // error) breaks the receiver, which then can only fail.
    WriteResult write(std::int64_t offset, std::span<const std::uint8_t> bytes);

    // Ends the transfer. It succeeds when the sender reports success, `sentBytes` is the announced size,
    // every byte of the file arrived and was written, the content matches `expectedSha256` (when
    // given) and the file was flushed and renamed into place; the result is then the SHA-256 of the
    // stored file. Otherwise the transfer fails as described above and the result is empty.
    std::optional<std::string> finish(bool ok, std::int64_t sentBytes, const std::optional<std::string>& expectedSha256);

    // Ends the transfer as failed.
    void abandon();

    std::int64_t size() const { return size_; }
    std::int64_t receivedBytes() const { return ranges_.coveredBytes(); }
    const std::filesystem::path& target() const { return target_; }

private:
    FileReceiver(core::UniqueFd file, std::filesystem::path temp, std::filesystem::path target, std::int64_t size);
    std::optional<std::string> digestOfWritten();
    std::optional<std::string> digestByReading() const;
    bool moveIntoPlace();

    core::UniqueFd file_;
    std::filesystem::path temp_;
    std::filesystem::path target_;
    std::int64_t size_;
    ReceivedRanges ranges_;
    bool broken_ = false;
    bool ended_ = false;
    // The digest of the bytes written in file order as they came, while they came in order; any other
    // write (a gap, an overlap) means the finished file is read back instead.
    std::unique_ptr<Sha256> inOrderDigest_ = std::make_unique<Sha256>();
    std::int64_t digestedBytes_ = 0;
};

} // namespace tavoro::files
