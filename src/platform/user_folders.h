#pragma once

#include <filesystem>

namespace tavoro::platform {

// The user's standard folders. Every path is absolute; a folder the platform names need not exist yet.
// Any thread.
class UserFolders {
public:
    virtual ~UserFolders() = default;
    virtual std::filesystem::path home() const = 0;      // where the local file browser starts
    virtual std::filesystem::path videos() const = 0;    // recordings
    virtual std::filesystem::path pictures() const = 0;  // screenshots
    virtual std::filesystem::path downloads() const = 0; // received files
    virtual std::filesystem::path temporary() const = 0;
};

} // namespace tavoro::platform
