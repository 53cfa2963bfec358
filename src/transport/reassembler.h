#pragma once

#include "core/clock.h"
#include "transport/recent_ids.h"

#include <cstdint>
#include <optional>
#include <span>
#include <unordered_map>
#include <vector>

namespace tavoro::transport {

// Puts chunked frames back together. A frame is delivered once, when every chunk index has arrived
// with a payload; a frame still incomplete more than 250 ms after its first chunk is given up. Ids of
// delivered and given-up frames are remembered (the 512 most recent) so that their late or duplicate
// chunks are dropped.
//
// Threads: used by one thread only (the transport's worker); no lock.
class Reassembler {
public:
    static constexpr std::uint64_t kExpiryMs = 250;

    // One frame being collected. The payloads are kept in arrival order in one buffer, with the place of
    // each chunk noted, so memory grows with what has arrived rather than with the count a chunk claims;
    // when they arrive in index order that buffer is the frame, and no further copy is made.
    struct Partial {
        struct Piece {
            std::uint16_t index = 0;
            std::uint32_t offset = 0; // into bytes
            std::uint16_t length = 0;
        };
        int count = 0;                 // from the frame's first arriving chunk
        int received = 0;              // distinct chunks stored
        std::vector<Piece> chunks;     // the stored chunks, sorted by index
        std::uint64_t tFirst = 0;      // uptime ms of the first chunk
        std::vector<std::uint8_t> bytes;
        bool arrivedInOrder = true; // bytes already hold the chunks in index order
        std::size_t reserved = 0;   // capacity set aside for bytes at the start
    };

    explicit Reassembler(const core::Clock& clock) : clock_(clock) {}

    // Takes one chunk datagram's fields; returns the whole frame when this chunk completed it.
    std::optional<std::vector<std::uint8_t>> reassemble(std::uint32_t frameId, std::uint16_t index,
        std::uint16_t count, std::span<const std::uint8_t> payload);

    // Gives up every frame whose first chunk came more than 250 ms before nowMs.
    void sweep(std::uint64_t nowMs);

    std::size_t pendingCount() const { return reassembly_.size(); }
    bool isDone(std::uint32_t frameId) const { return doneIds_.contains(frameId); }

private:
    static bool store(Partial& partial, std::uint16_t index, std::span<const std::uint8_t> payload);
    static std::vector<std::uint8_t> assemble(Partial& partial);

    const core::Clock& clock_;
    std::unordered_map<std::uint32_t, Partial> reassembly_;
    RecentIds doneIds_;
    std::size_t reservedBytes_ = 0; // sum of `reserved` over reassembly_
};

} // namespace tavoro::transport
