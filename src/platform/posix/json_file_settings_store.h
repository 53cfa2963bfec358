#pragma once

#include "platform/settings_store.h"

#include <filesystem>
#include <mutex>

namespace tavoro::platform {

// Settings kept as one JSON object in DIR/settings.json (created 0700/0600, since it holds the
// connection password). Every change rewrites the file atomically. A file that cannot be read as a
// JSON object is renamed aside (settings.json.corrupt-<time>) with one log line, and defaults apply.
// Thread-safe: mutex_ guards values_ and serialises writes.
class JsonFileSettingsStore final : public SettingsStore {
public:
    explicit JsonFileSettingsStore(std::filesystem::path dir);

    std::optional<nlohmann::json> get(std::string_view key) const override;
    void set(std::string_view key, nlohmann::json value) override;
    void remove(std::string_view key) override;

    const std::filesystem::path& filePath() const { return file_; }

private:
    void load();
    void keepAside(const std::string& why);
    void save(); // with mutex_ held

    std::filesystem::path file_;
    mutable std::mutex mutex_;
    nlohmann::json values_ = nlohmann::json::object();
};

} // namespace tavoro::platform
