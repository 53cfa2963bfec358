#include "app/identity.h"

#include <algorithm>

namespace tavoro::app {
namespace {

bool allDigits(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

bool isValidStoredDeviceId(std::string_view id) { return id.size() == 9 && allDigits(id); }

std::string makeDeviceId(platform::SecureRandom& random)
{
    return std::to_string(random.below(900000000) + 100000000);
}

std::string formatId(std::string_view id)
{
    if (id.size() != 9) {
        return std::string(id);
    }
    std::string out;
    out.append(id.substr(0, 3)).append(" ").append(id.substr(3, 3)).append(" ").append(id.substr(6, 3));
    return out;
}

std::string makeTempPassword(platform::SecureRandom& random)
{
    static constexpr std::string_view kAlphabet = "0123456789abcdef";
    std::string password;
    for (int i = 0; i < 4; ++i) {
        password += kAlphabet[random.below(kAlphabet.size())];
    }
    return password;
}

std::string trimSpacesAndTabs(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t");
    return std::string(text.substr(first, last - first + 1));
}

std::string phoneCharacters(std::string_view input)
{
    std::string kept;
    std::copy_if(input.begin(), input.end(), std::back_inserter(kept),
        [](char c) { return (c >= '0' && c <= '9') || c == ':'; });
    return kept;
}

bool hasElevenDigitNumber(std::string_view alias) { return alias.substr(0, alias.find(':')).size() == 11; }

bool isValidTarget(std::string_view target)
{
    return (target.size() == 9 && allDigits(target)) || target.find(':') != std::string_view::npos
        || (target.size() == 11 && allDigits(target));
}

bool isSmsTarget(std::string_view target)
{
    return target.find(':') != std::string_view::npos || (target.size() == 11 && allDigits(target));
}

std::vector<std::string> withPeerFirst(std::vector<std::string> history, const std::string& peer)
{
    std::erase(history, peer);
    history.insert(history.begin(), peer);
    if (history.size() > kPeerHistoryLimit) {
        history.resize(kPeerHistoryLimit);
    }
    return history;
}

} // namespace tavoro::app
