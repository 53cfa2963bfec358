#include "transport/recent_ids.h"

namespace tavoro::transport {

std::size_t RecentIds::home(std::uint32_t id)
{
    return (id * 2654435761u) & (kSlots - 1);
}

std::size_t RecentIds::find(std::uint32_t id) const
{
    for (std::size_t slot = home(id); used_[slot]; slot = (slot + 1) & (kSlots - 1)) {
        if (keys_[slot] == id) {
            return slot;
        }
    }
    return kSlots;
}

bool RecentIds::contains(std::uint32_t id) const { return find(id) != kSlots; }

void RecentIds::insert(std::uint32_t id)
{
    if (contains(id)) {
        return;
    }
    if (size_ == kCapacity) {
        const std::uint32_t oldest = order_[head_];
        head_ = (head_ + 1) % kCapacity;
        --size_;
        eraseSlot(find(oldest));
    }
    std::size_t slot = home(id);
    while (used_[slot]) {
        slot = (slot + 1) & (kSlots - 1);
    }
    used_[slot] = true;
    keys_[slot] = id;
    order_[(head_ + size_) % kCapacity] = id;
    ++size_;
}

// Backward-shift deletion keeps every remaining key reachable from its home slot without tombstones.
void RecentIds::eraseSlot(std::size_t slot)
{
    used_[slot] = false;
    for (std::size_t next = (slot + 1) & (kSlots - 1); used_[next]; next = (next + 1) & (kSlots - 1)) {
        const std::size_t want = home(keys_[next]);
        const bool reachable = slot <= next ? (slot < want && want <= next) : (slot < want || want <= next);
        if (!reachable) {
            keys_[slot] = keys_[next];
            used_[slot] = true;
            used_[next] = false;
            slot = next;
        }
    }
}

} // namespace tavoro::transport
