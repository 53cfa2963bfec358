#pragma once

#include <cstdint>
#include <span>

namespace tavoro::platform {

// The system's cryptographically secure random source. Safe from any thread.
class SecureRandom {
public:
    virtual ~SecureRandom() = default;
    virtual void fill(std::span<std::uint8_t> bytes) = 0;

    // A uniform value in [0, bound), without modulo bias. bound must be above 0.
    std::uint64_t below(std::uint64_t bound)
    {
        // Reject the top partial range so that every residue is equally likely.
        const std::uint64_t limit = UINT64_MAX - (UINT64_MAX % bound + 1) % bound;
        for (;;) {
            std::uint64_t value = 0;
            fill(std::span(reinterpret_cast<std::uint8_t*>(&value), sizeof value));
            if (value <= limit) {
                return value % bound;
            }
        }
    }
};

} // namespace tavoro::platform
