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
    bool keepCopyAside(const std::string&) override
    {
        std::lock_guard lock(mutex_);
        ++copiesAside_;
        return copyAsideWorks_;
    }
    void failCopiesAside()
    {
        std::lock_guard lock(mutex_);
        copyAsideWorks_ = false;
    }
    int copiesAside() const
    {
        std::lock_guard lock(mutex_);
        return copiesAside_;
    }
    bool contains(std::string_view key) const { return get(key).has_value(); }
    int writes() const
    {
        std::lock_guard lock(mutex_);
        return writes_;
    }

private:
    mutable std::mutex mutex_; // guards every field below
    nlohmann::json values_ = nlohmann::json::object();
    int writes_ = 0;
    int copiesAside_ = 0;
    bool copyAsideWorks_ = true;
};

} // namespace tavoro::platform::fake
