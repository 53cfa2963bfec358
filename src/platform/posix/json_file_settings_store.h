#pragma once

#include "core/clock.h"
#include "platform/settings_store.h"

#include <filesystem>
#include <mutex>

namespace tavoro::platform {

// Settings kept as one JSON object in DIR/settings.json (created 0700/0600, since it holds the
// connection password). Every change rewrites the file atomically. A file that cannot be read as a
// JSON object is renamed aside (settings.json.corrupt-<time>) with one log line, and defaults apply;
// when it cannot be kept aside, it is left exactly as it is: nothing is written to it for the rest of
// the run (one log line says so), and changes live in memory only.
// Thread-safe: mutex_ guards values_, frozen_ and copiedAside_ and serialises writes.
class JsonFileSettingsStore final : public SettingsStore {
public:
    // clock names the copies kept aside; it must outlive the store.
    explicit JsonFileSettingsStore(std::filesystem::path dir, const core::WallClock& clock = systemClock());

    std::optional<nlohmann::json> get(std::string_view key) const override;
    void set(std::string_view key, nlohmann::json value) override;
    void remove(std::string_view key) override;
    bool keepCopyAside(const std::string& why) override;

    const std::filesystem::path& filePath() const { return file_; }

private:
    static const core::WallClock& systemClock();
    void load();
    // Moves (or copies) the file aside; false, with the file left alone and frozen_ set, when it cannot.
    bool keepAside(const std::string& why, bool move);
    void save(); // with mutex_ held

    std::filesystem::path file_;
    const core::WallClock& clock_;
    mutable std::mutex mutex_;
    nlohmann::json values_ = nlohmann::json::object();
    bool frozen_ = false;      // the file could not be kept aside: it is never written
    bool copiedAside_ = false; // a copy of the file as loaded was kept aside in this run
};

} // namespace tavoro::platform
