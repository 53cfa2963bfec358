#include "transport/reassembler.h"

#include <algorithm>
#include <iterator>

namespace tavoro::transport {
namespace {

constexpr std::size_t kChunkBytes = 1100;
constexpr std::size_t kMaxReserve = std::size_t{2} << 20;
constexpr std::size_t kReserveBudget = std::size_t{64} << 20;

} // namespace

std::optional<std::vector<std::uint8_t>> Reassembler::reassemble(std::uint32_t frameId, std::uint16_t index,
    std::uint16_t count, std::span<const std::uint8_t> payload)
{
    if (count < 1 || index >= count || doneIds_.contains(frameId)) {
        return std::nullopt;
    }
    auto found = reassembly_.find(frameId);
    if (found == reassembly_.end()) {
        Partial fresh;
        fresh.count = count;
        fresh.tFirst = clock_.uptimeMs();
        // One allocation for the whole frame. Pages are only touched as chunks arrive, so a false count
        // costs address space, not memory; the caps keep even that bounded under a flood of new ids.
        const std::size_t reserve = std::min<std::size_t>(std::size_t{count} * kChunkBytes, kMaxReserve);
        if (reservedBytes_ + reserve <= kReserveBudget) {
            fresh.bytes.reserve(reserve);
            fresh.reserved = reserve;
            reservedBytes_ += reserve;
        }
        found = reassembly_.emplace(frameId, std::move(fresh)).first;
    } else if (found->second.count != count) {
        return std::nullopt;
    }
    Partial& partial = found->second;
    if (!store(partial, index, payload) || partial.received != partial.count) {
        return std::nullopt;
    }
    auto frame = assemble(partial);
    reservedBytes_ -= partial.reserved;
    reassembly_.erase(found);
    doneIds_.insert(frameId);
    return frame;
}

bool Reassembler::store(Partial& partial, std::uint16_t index, std::span<const std::uint8_t> payload)
{
    if (payload.empty()) {
        return false;
    }
    auto& chunks = partial.chunks;
    auto at = chunks.end();
    if (!chunks.empty() && chunks.back().index >= index) {
        at = std::lower_bound(chunks.begin(), chunks.end(), index,
            [](const Partial::Piece& piece, std::uint16_t wanted) { return piece.index < wanted; });
        if (at != chunks.end() && at->index == index) {
            return false;
        }
        partial.arrivedInOrder = false;
    }
    const auto offset = static_cast<std::uint32_t>(partial.bytes.size());
    partial.bytes.insert(partial.bytes.end(), payload.begin(), payload.end());
    chunks.insert(at, Partial::Piece{index, offset, static_cast<std::uint16_t>(payload.size())});
    ++partial.received;
    return true;
}

std::vector<std::uint8_t> Reassembler::assemble(Partial& partial)
{
    if (partial.arrivedInOrder) {
        return std::move(partial.bytes);
    }
    std::vector<std::uint8_t> frame;
    frame.reserve(partial.bytes.size());
    for (const auto& piece : partial.chunks) {
        const auto begin = partial.bytes.begin() + piece.offset;
        frame.insert(frame.end(), begin, begin + piece.length);
    }
    return frame;
}

void Reassembler::sweep(std::uint64_t nowMs)
{
    for (auto it = reassembly_.begin(); it != reassembly_.end();) {
        if (nowMs > it->second.tFirst + kExpiryMs) {
            reservedBytes_ -= it->second.reserved;
            doneIds_.insert(it->first);
            it = reassembly_.erase(it);
        } else {
            ++it;
        }
    }
}

} // namespace tavoro::transport
