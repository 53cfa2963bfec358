#include "server/identifiers.h"

#include <algorithm>
#include <cstdio>

namespace tavoro::server {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isBase64UrlSymbol(char c)
{
    return isDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' || c == '_';
}

} // namespace

bool isDeviceId(std::string_view text) { return text.size() == 9 && std::all_of(text.begin(), text.end(), isDigit); }

bool isPhoneAlias(std::string_view text)
{
    if (text.size() < 11 || text.size() > 32 || !std::all_of(text.begin(), text.begin() + 11, isDigit)) {
        return false;
    }
    if (text.size() == 11) {
        return true;
    }
    return text[11] == ':' && std::all_of(text.begin() + 12, text.end(), [](char c) { return isDigit(c) || c == ':'; });
}

bool isDeviceKey(std::string_view text)
{
    return text.size() == 43 && std::all_of(text.begin(), text.end(), isBase64UrlSymbol);
}

std::string phoneNumberOf(std::string_view alias) { return std::string(alias.substr(0, alias.find(':'))); }

std::string makeRelayToken(platform::SecureRandom& random)
{
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::uint8_t bytes[24];
    random.fill(bytes);
    std::string token;
    for (std::uint8_t b : bytes) {
        token += kAlphabet[b & 63]; // 64 symbols: the low six bits are uniform
    }
    return token;
}

std::string makeSmsCode(platform::SecureRandom& random)
{
    char text[8];
    std::snprintf(text, sizeof text, "%06u", static_cast<unsigned>(random.below(1'000'000)));
    return text;
}

std::size_t jsonNestingDepth(std::string_view text)
{
    std::size_t depth = 0;
    std::size_t deepest = 0;
    bool inString = false;
    bool escaped = false;
    for (char c : text) {
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return deepest;
}

} // namespace tavoro::server
