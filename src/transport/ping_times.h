#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace tavoro::transport {

// The ids and send times of the last 16 pings, so that a pong answering any of them can be timed, not
// only one answering the latest ping (pings go out every 300 ms; a slower link would never be
// measured otherwise). Fixed storage: recording overwrites the oldest entry.
class PingTimes {
public:
    static constexpr std::size_t kCapacity = 16;

    void record(std::uint32_t id, std::uint64_t sentMs);
    // When ping id was sent, if it is still held; it is forgotten then, so each ping is timed once.
    std::optional<std::uint64_t> take(std::uint32_t id);

private:
    struct Sent {
        std::uint32_t id = 0;
        std::uint64_t sentMs = 0;
        bool held = false;
    };

    std::array<Sent, kCapacity> ring_{};
    std::size_t next_ = 0; // the slot the next ping overwrites
};

} // namespace tavoro::transport
