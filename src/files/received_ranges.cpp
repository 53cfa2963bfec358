#include "files/received_ranges.h"

#include <algorithm>
#include <iterator>

namespace tavoro::files {

void ReceivedRanges::add(std::int64_t offset, std::int64_t length)
{
    if (length <= 0) {
        return;
    }
    std::int64_t start = offset;
    std::int64_t end = offset + length;
    auto it = ranges_.upper_bound(start);
    if (it != ranges_.begin() && std::prev(it)->second >= start) {
        --it;
    }
    while (it != ranges_.end() && it->first <= end) {
        start = std::min(start, it->first);
        end = std::max(end, it->second);
        covered_ -= it->second - it->first;
        it = ranges_.erase(it);
    }
    ranges_.emplace(start, end);
    covered_ += end - start;
}

bool ReceivedRanges::covers(std::int64_t size) const
{
    if (size <= 0) {
        return true;
    }
    return !ranges_.empty() && ranges_.begin()->first <= 0 && ranges_.begin()->second >= size;
}

} // namespace tavoro::files
