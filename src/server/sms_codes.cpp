#include "server/sms_codes.h"

#include "server/identifiers.h"

#include <algorithm>

namespace tavoro::server {

SmsCodes::SmsCodes(const core::Clock& clock, platform::SecureRandom& random, Limits limits)
    : clock_(clock), random_(random), limits_(limits)
{
}

SmsCodes::Issued SmsCodes::issue(const std::string& requester, const std::string& alias)
{
    const auto now = clock_.now();
    if (auto last = lastRequest_.find(requester); last != lastRequest_.end() && now - last->second < limits_.requestInterval) {
        return Issued{std::nullopt, Refusal::tooSoon};
    }
    lastRequest_[requester] = now;
    auto& entry = byAlias_[alias];
    dropExpired(entry, now);
    if (entry.codes.size() >= limits_.maxCodesPerAlias) {
        entry.codes.erase(entry.codes.begin());
    }
    entry.codes.push_back(Code{makeSmsCode(random_), now});
    return Issued{entry.codes.back().digits, Refusal::tooSoon};
}

bool SmsCodes::redeem(const std::string& alias, const std::string& password)
{
    auto it = byAlias_.find(alias);
    if (it == byAlias_.end()) {
        return false;
    }
    auto& entry = it->second;
    dropExpired(entry, clock_.now());
    auto match = std::find_if(entry.codes.begin(), entry.codes.end(), [&](const Code& c) { return c.digits == password; });
    const bool redeemed = match != entry.codes.end();
    if (redeemed) {
        entry.codes.erase(match);
        entry.wrongGuesses = 0;
    } else if (!entry.codes.empty() && ++entry.wrongGuesses >= limits_.maxWrongGuesses) {
        entry.codes.clear();
    }
    if (entry.codes.empty()) {
        byAlias_.erase(it);
    }
    return redeemed;
}

void SmsCodes::dropExpired(AliasCodes& entry, core::SteadyTime now) const
{
    std::erase_if(entry.codes, [&](const Code& c) { return now - c.issuedAt >= limits_.lifetime; });
}

void SmsCodes::prune()
{
    const auto now = clock_.now();
    for (auto it = byAlias_.begin(); it != byAlias_.end();) {
        dropExpired(it->second, now);
        it = it->second.codes.empty() ? byAlias_.erase(it) : std::next(it);
    }
    std::erase_if(lastRequest_, [&](const auto& entry) { return now - entry.second >= limits_.requestInterval; });
}

} // namespace tavoro::server
