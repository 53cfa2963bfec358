#include "server/queue_budget.h"

#include <algorithm>

namespace tavoro::server {

std::vector<ConnectionId> QueueBudget::toClose(std::vector<std::pair<ConnectionId, std::size_t>> held) const
{
    std::sort(held.begin(), held.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    std::vector<ConnectionId> chosen;
    std::size_t remaining = total_;
    for (const auto& [id, bytes] : held) {
        if (remaining <= limit_ || bytes == 0) {
            break;
        }
        chosen.push_back(id);
        remaining -= std::min(bytes, remaining);
    }
    return chosen;
}

bool QueueBudget::burstIsOver()
{
    if (peak_ < returnAfter_ || total_ > peak_ / 4) {
        return false;
    }
    peak_ = total_;
    return true;
}

} // namespace tavoro::server
