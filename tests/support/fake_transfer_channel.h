#pragma once

#include "files/transfer_channel.h"

#include <mutex>
#include <string>
#include <vector>

namespace tavoro::test {

// A transfer channel whose socket the test drives: it keeps every message, counts each one's JSON
// text as queued, and writes nothing until the test says so (or at once with autoWrite). The test
// can also close it (sends then report failure) or change the connection number. Safe from any thread.
class FakeTransferChannel final : public files::TransferChannel {
public:
    bool send(const std::string& type, nlohmann::json payload) override
    {
        payload["type"] = type;
        std::lock_guard lock(mutex_);
        queued_ += payload.dump().size();
        if (autoWrite_) {
            written_ = queued_;
        }
        messages_.push_back(std::move(payload));
        return live_;
    }
    std::uint64_t unsentBytes() const override
    {
        std::lock_guard lock(mutex_);
        return queued_ - written_;
    }
    std::uint64_t writtenBytes() const override
    {
        std::lock_guard lock(mutex_);
        return written_;
    }
    std::uint64_t connectionNumber() const override
    {
        std::lock_guard lock(mutex_);
        return connection_;
    }

    // Back to a fresh, open, writing channel with no messages.
    void reset()
    {
        std::lock_guard lock(mutex_);
        messages_.clear();
        queued_ = written_ = 0;
        ++connection_;
        live_ = autoWrite_ = true;
    }
    void writeAll()
    {
        std::lock_guard lock(mutex_);
        written_ = queued_;
    }
    void setAutoWrite(bool on)
    {
        std::lock_guard lock(mutex_);
        autoWrite_ = on;
        written_ = on ? queued_ : written_;
    }
    void setLive(bool live)
    {
        std::lock_guard lock(mutex_);
        live_ = live;
    }
    void reconnect()
    {
        std::lock_guard lock(mutex_);
        ++connection_;
    }
    std::vector<nlohmann::json> messages() const
    {
        std::lock_guard lock(mutex_);
        return messages_;
    }
    // The messages of one type.
    std::vector<nlohmann::json> messages(const std::string& type) const
    {
        std::vector<nlohmann::json> found;
        for (const auto& message : messages()) {
            if (message.value("type", "") == type) {
                found.push_back(message);
            }
        }
        return found;
    }

private:
    mutable std::mutex mutex_; // guards everything below
    std::vector<nlohmann::json> messages_;
    std::uint64_t queued_ = 0;
    std::uint64_t written_ = 0;
    std::uint64_t connection_ = 1;
    bool live_ = true;
    bool autoWrite_ = true;
};

} // namespace tavoro::test
