#include "files/file_receiver.h"

#include "files/positioned_io.h"
#include "files/sha256.h"
#include "files/transfer_names.h"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace tavoro::files {
namespace {

std::string slashesCollapsed(const std::string& text)
{
    std::string path;
    for (char c : text) {
        if (c == '\\') {
            c = '/';
        }
        if (c == '/' && !path.empty() && path.back() == '/') {
            continue;
        }
        path.push_back(c);
    }
    return path;
}

// Makes the directory entry of a rename durable; failures only weaken durability.
void syncDirectory(const std::filesystem::path& dir)
{
    core::UniqueFd handle(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (handle.valid()) {
        ::fsync(handle.get());
    }
}

} // namespace

std::unique_ptr<FileReceiver> FileReceiver::create(const std::filesystem::path& dir, const std::string& name,
    std::int64_t size, std::int64_t transferId)
{
    std::error_code ignored;
    std::filesystem::create_directories(dir, ignored);
    auto temp = dir / temporaryFileName(name, transferId);
    core::UniqueFd file(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!file.valid()) {
        return nullptr;
    }
    return std::unique_ptr<FileReceiver>(new FileReceiver(std::move(file), std::move(temp), dir / name, size));
}

FileReceiver::FileReceiver(core::UniqueFd file, std::filesystem::path temp, std::filesystem::path target, std::int64_t size)
    : file_(std::move(file)), temp_(std::move(temp)), target_(std::move(target)), size_(size)
{
}

FileReceiver::~FileReceiver() { abandon(); }

std::filesystem::path FileReceiver::resolveDir(const std::string& destDir, const platform::UserFolders& folders)
{
    if (!destDir.empty() && destDir != "%DESKTOP%") {
        const std::filesystem::path path = slashesCollapsed(destDir);
        std::error_code error;
        if (path.is_absolute() && std::filesystem::is_directory(path, error)) {
            return path;
        }
    }
    auto downloads = folders.downloads();
    return downloads.empty() ? folders.temporary() : downloads;
}

bool FileReceiver::hasRoomFor(const std::filesystem::path& dir, std::int64_t bytes)
{
    struct statvfs stats {};
    if (::statvfs(dir.c_str(), &stats) != 0) {
        return true; // unknown: the writes will tell
    }
    const auto available = static_cast<unsigned long long>(stats.f_bavail) * stats.f_frsize;
    return bytes <= 0 || static_cast<unsigned long long>(bytes) <= available;
}

FileReceiver::WriteResult FileReceiver::write(std::int64_t offset, std::span<const std::uint8_t> bytes)
{
    const auto length = static_cast<std::int64_t>(bytes.size());
    if (offset < 0 || offset > size_ || length > size_ - offset) {
        return WriteResult::outOfRange;
    }
    if (ended_ || broken_ || !writeAllAt(file_.get(), bytes, offset)) {
        broken_ = true;
        return WriteResult::failed;
    }
    ranges_.add(offset, length);
    if (inOrderDigest_ && offset == digestedBytes_) {
        inOrderDigest_->update(bytes);
        digestedBytes_ += length;
    } else {
        inOrderDigest_.reset();
    }
    return WriteResult::written;
}

std::optional<std::string> FileReceiver::finish(bool ok, std::int64_t sentBytes, const std::optional<std::string>& expectedSha256)
{
    if (ended_ || !ok || broken_ || sentBytes != size_ || !ranges_.covers(size_) || ::fsync(file_.get()) != 0) {
        abandon();
        return std::nullopt;
    }
    auto digest = digestOfWritten();
    if (!digest || (expectedSha256 && *expectedSha256 != *digest) || !moveIntoPlace()) {
        abandon();
        return std::nullopt;
    }
    return digest;
}

std::optional<std::string> FileReceiver::digestOfWritten()
{
    if (inOrderDigest_ && digestedBytes_ == size_) {
        return inOrderDigest_->hexDigest();
    }
    return digestByReading();
}

std::optional<std::string> FileReceiver::digestByReading() const
{
    core::UniqueFd reader(::open(temp_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!reader.valid()) {
        return std::nullopt;
    }
    Sha256 sha;
    std::array<std::uint8_t, 65536> buffer{};
    for (;;) {
        const ssize_t n = ::read(reader.get(), buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return std::nullopt;
        }
        if (n == 0) {
            return sha.hexDigest();
        }
        sha.update(std::span(buffer.data(), static_cast<std::size_t>(n)));
    }
}

bool FileReceiver::moveIntoPlace()
{
    if (::close(file_.release()) != 0 || ::rename(temp_.c_str(), target_.c_str()) != 0) {
        return false;
    }
    ended_ = true;
    syncDirectory(target_.parent_path());
    return true;
}

void FileReceiver::abandon()
{
    if (ended_) {
        return;
    }
    ended_ = true;
    file_.reset();
    if (ranges_.coveredBytes() > 0) {
        const auto part = target_.parent_path() / partFileName(target_.filename().string());
        if (::rename(temp_.c_str(), part.c_str()) == 0) {
            return;
        }
    }
    ::unlink(temp_.c_str());
}

} // namespace tavoro::files
