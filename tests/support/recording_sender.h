#pragma once

#include "protocol/message_sender.h"

#include <mutex>
#include <string>
#include <vector>

namespace tavoro::test {

// Keeps every message a component sends, for the test to read. Safe from any thread.
class RecordingSender final : public protocol::MessageSender {
public:
    void send(const std::string& type, nlohmann::json payload) override
    {
        payload["type"] = type;
        std::lock_guard lock(mutex_);
        texts_.push_back(std::move(payload));
    }
    void sendBinary(std::vector<std::uint8_t> bytes) override
    {
        std::lock_guard lock(mutex_);
        binaries_.push_back(std::move(bytes));
    }

    std::vector<nlohmann::json> texts() const
    {
        std::lock_guard lock(mutex_);
        return texts_;
    }
    std::vector<std::vector<std::uint8_t>> binaries() const
    {
        std::lock_guard lock(mutex_);
        return binaries_;
    }
    // The "signal" messages of one kind sent to one device.
    std::vector<nlohmann::json> signals(const std::string& kind, const std::string& to) const
    {
        std::vector<nlohmann::json> found;
        for (const auto& message : texts()) {
            if (message.value("type", "") == "signal" && message.value("kind", "") == kind &&
                message.value("to", "") == to) {
                found.push_back(message);
            }
        }
        return found;
    }
    void clear()
    {
        std::lock_guard lock(mutex_);
        texts_.clear();
        binaries_.clear();
    }

private:
    mutable std::mutex mutex_; // guards texts_ and binaries_
    std::vector<nlohmann::json> texts_;
    std::vector<std::vector<std::uint8_t>> binaries_;
};

} // namespace tavoro::test
