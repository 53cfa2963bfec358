#include "app/identity.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>

namespace tavoro::app {
namespace {

bool allDigits(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

constexpr std::string_view kBase64Url = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

std::string base64UrlWithoutPadding(std::span<const std::uint8_t> bytes)
{
    std::string text;
    std::uint32_t bits = 0;
    int pending = 0; // bits in `bits` not yet written
    for (std::uint8_t byte : bytes) {
        bits = (bits << 8) | byte;
        pending += 8;
        while (pending >= 6) {
            pending -= 6;
            text += kBase64Url[(bits >> pending) & 63];
        }
    }
    if (pending > 0) {
        text += kBase64Url[(bits << (6 - pending)) & 63];
    }
    return text;
}

} // namespace

std::string makeDeviceKey(platform::SecureRandom& random)
{
    std::array<std::uint8_t, 32> bytes{};
    random.fill(bytes);
    return base64UrlWithoutPadding(bytes);
}

bool isValidStoredDeviceKey(std::string_view key)
{
    return key.size() == 43 && key.find_first_not_of(kBase64Url) == std::string_view::npos;
}

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
