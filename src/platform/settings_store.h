#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace tavoro::platform {

// The per-user key-value store for persisted settings. Every operation is safe from any thread;
// set() and remove() are durable when they return (or logged when the medium refused them).
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    virtual std::optional<nlohmann::json> get(std::string_view key) const = 0;
    virtual void set(std::string_view key, nlohmann::json value) = 0;
    virtual void remove(std::string_view key) = 0;
    // Some stored values are unusable and about to be replaced (why: for the log): keeps a copy of
    // what is stored aside first. False when no copy could be made; the store then writes nothing
    // more, so the user's file stays as it is, and changes live for this run only.
    virtual bool keepCopyAside(const std::string& why) = 0;
};

} // namespace tavoro::platform
