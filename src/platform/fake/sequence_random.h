#pragma once

#include "platform/secure_random.h"

#include <mutex>
#include <vector>

namespace tavoro::platform::fake {

// Hands out the given bytes in a cycle, so that IDs and passwords are predictable in tests.
class SequenceRandom final : public SecureRandom {
public:
    explicit SequenceRandom(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
    void fill(std::span<std::uint8_t> out) override
    {
        std::lock_guard lock(mutex_);
        for (auto& b : out) {
            b = bytes_[next_++ % bytes_.size()];
        }
    }

private:
    std::mutex mutex_; // guards next_
    std::vector<std::uint8_t> bytes_;
    std::size_t next_ = 0;
};

} // namespace tavoro::platform::fake
