#include "files/base64.h"

#include <openssl/evp.h>

#include <climits>

namespace tavoro::files {
namespace {

bool inAlphabet(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

// Number of "=" at the end, or -1 when the text is not laid out as padded Base64.
int paddingOf(std::string_view text)
{
    if (text.size() % 4 != 0) {
        return -1;
    }
    int padding = 0;
    while (padding < 2 && padding < static_cast<int>(text.size()) && text[text.size() - 1 - padding] == '=') {
        ++padding;
    }
    for (std::size_t i = 0; i < text.size() - static_cast<std::size_t>(padding); ++i) {
        if (!inAlphabet(text[i])) {
            return -1;
        }
    }
    return padding;
}

} // namespace

std::string encodeBase64(std::span<const std::uint8_t> bytes)
{
    std::string text(4 * ((bytes.size() + 2) / 3), '\0');
    if (bytes.empty()) {
        return text;
    }
    // EVP_EncodeBlock writes a terminating NUL after the text.
    std::vector<unsigned char> out(text.size() + 1);
    const int length = EVP_EncodeBlock(out.data(), bytes.data(), static_cast<int>(bytes.size()));
    text.assign(reinterpret_cast<const char*>(out.data()), static_cast<std::size_t>(length));
    return text;
}

std::optional<std::vector<std::uint8_t>> decodeBase64(std::string_view text)
{
    const int padding = paddingOf(text);
    if (padding < 0 || text.size() > static_cast<std::size_t>(INT_MAX)) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes(text.size() / 4 * 3);
    if (text.empty()) {
        return bytes;
    }
    const int length = EVP_DecodeBlock(bytes.data(), reinterpret_cast<const unsigned char*>(text.data()),
        static_cast<int>(text.size()));
    if (length < padding) {
        return std::nullopt;
    }
    // EVP_DecodeBlock counts the padding as zero bytes.
    bytes.resize(static_cast<std::size_t>(length - padding));
    return bytes;
}

} // namespace tavoro::files
