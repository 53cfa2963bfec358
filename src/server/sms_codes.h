#pragma once

#include "core/clock.h"
#include "platform/secure_random.h"

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace tavoro::server {

// One-time SMS codes per phone alias. A requester may ask once per `requestInterval`; a code is
// good for `lifetime` and for one verified call. Wrong guesses while codes are outstanding are
// counted, and after `maxWrongGuesses` every outstanding code of that alias is void, so that the
// six digits cannot be found by calling over and over. Pure logic on an injected clock.
class SmsCodes {
public:
    struct Limits {
        core::Millis lifetime{5 * 60'000};
        core::Millis requestInterval{60'000};
        std::size_t maxCodesPerAlias = 5;
        int maxWrongGuesses = 5;
    };

    SmsCodes(const core::Clock& clock, platform::SecureRandom& random, Limits limits);

    enum class Refusal { tooSoon };
    struct Issued {
        std::optional<std::string> code; // absent: refused
        Refusal refusal = Refusal::tooSoon;
    };
    // A fresh code for alias, asked for by the device `requester`.
    Issued issue(const std::string& requester, const std::string& alias);

    // True, and that code is used up, when `password` is a live code of alias.
    bool redeem(const std::string& alias, const std::string& password);

    // Forgets expired codes and old request times.
    void prune();

private:
    struct Code {
        std::string digits;
        core::SteadyTime issuedAt;
    };
    struct AliasCodes {
        std::vector<Code> codes;
        int wrongGuesses = 0;
    };
    void dropExpired(AliasCodes& entry, core::SteadyTime now) const;

    const core::Clock& clock_;
    platform::SecureRandom& random_;
    Limits limits_;
    std::unordered_map<std::string, AliasCodes> byAlias_;
    std::unordered_map<std::string, core::SteadyTime> lastRequest_; // requester -> time
};

} // namespace tavoro::server
