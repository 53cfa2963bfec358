#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tavoro::transport {

// The done filter: the 512 most recently finished frame ids (`doneIds` with its insertion order
// `doneOrder`). Fixed storage, so marking an id and looking one up never allocate.
class RecentIds {
public:
    static constexpr std::size_t kCapacity = 512;

    bool contains(std::uint32_t id) const;
    // Remembers id unless it is already there; forgets the oldest id once more than 512 are held.
    void insert(std::uint32_t id);
    std::size_t size() const { return size_; }

private:
    static constexpr std::size_t kSlots = 2048; // a quarter full at most, so probe runs stay short

    static std::size_t home(std::uint32_t id);
    std::size_t find(std::uint32_t id) const; // slot holding id, or kSlots
    void eraseSlot(std::size_t slot);

    std::array<std::uint32_t, kCapacity> order_{}; // ring, oldest at head_
    std::size_t head_ = 0;
    std::size_t size_ = 0;
    std::array<std::uint32_t, kSlots> keys_{}; // open addressing with linear probing
    std::array<bool, kSlots> used_{};
};

} // namespace tavoro::transport
