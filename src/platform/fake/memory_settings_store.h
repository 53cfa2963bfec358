#pragma once

#include "platform/settings_store.h"

#include <mutex>

namespace tavoro::platform::fake {

// Settings that live in memory only. Thread-safe.
class MemorySettingsStore final : public SettingsStore {
public:
    std::optional<nlohmann::json> get(std::string_view key) const override
    {
        std::lock_guard lock(mutex_);
        auto it = values_.find(key);
        return it == values_.end() ? std::nullopt : std::optional<nlohmann::json>(*it);
    }
    void set(std::string_view key, nlohmann::json value) override
    {
        std::lock_guard lock(mutex_);
        values_[std::string(key)] = std::move(value);
        ++writes_;
    }
    void remove(std::string_view key) override
    {
        std::lock_guard lock(mutex_);
        auto it = values_.find(key);
        if (it != values_.end()) {
            values_.erase(it);
            ++writes_;
        }
    }
    bool contains(std::string_view key) const { return get(key).has_value(); }
    int writes() const
    {
        std::lock_guard lock(mutex_);
        return writes_;
    }

private:
    mutable std::mutex mutex_; // guards values_ and writes_
    nlohmann::json values_ = nlohmann::json::object();
    int writes_ = 0;
};

} // namespace tavoro::platform::fake
