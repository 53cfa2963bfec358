#pragma once

#include "platform/user_folders.h"

namespace tavoro::platform::fake {

// Folders chosen by the test. Any thread, once set up.
struct FixedUserFolders final : UserFolders {
    std::filesystem::path homePath;
    std::filesystem::path videosPath;
    std::filesystem::path picturesPath;
    std::filesystem::path downloadsPath;
    std::filesystem::path temporaryPath;

    std::filesystem::path home() const override { return homePath; }
    std::filesystem::path videos() const override { return videosPath; }
    std::filesystem::path pictures() const override { return picturesPath; }
    std::filesystem::path downloads() const override { return downloadsPath; }
    std::filesystem::path temporary() const override { return temporaryPath; }
};

} // namespace tavoro::platform::fake
