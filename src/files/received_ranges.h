#pragma once

#include <cstdint>
#include <map>

namespace tavoro::files {

// The byte ranges of a file that have arrived, merged as they come; duplicates and overlaps count
// once. Pure logic; one thread at a time.
class ReceivedRanges {
public:
    // Records [offset, offset + length). Empty ranges are ignored.
    void add(std::int64_t offset, std::int64_t length);
    // Bytes covered by at least one range.
    std::int64_t coveredBytes() const { return covered_; }
    // True when every byte of [0, size) has arrived (always for size 0).
    bool covers(std::int64_t size) const;

private:
    std::map<std::int64_t, std::int64_t> ranges_; // start → end, disjoint and not touching
    std::int64_t covered_ = 0;
};

} // namespace tavoro::files
