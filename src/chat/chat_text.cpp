#include "chat/chat_text.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace tavoro::chat {
namespace {

struct CodePoint {
    std::size_t offset;
    std::size_t length;
    std::optional<char32_t> value; // none for a byte that starts no valid sequence
};

std::size_t sequenceLength(unsigned char lead)
{
    if (lead < 0x80) {
        return 1;
    }
    if ((lead & 0xE0) == 0xC0) {
        return 2;
    }
    if ((lead & 0xF0) == 0xE0) {
        return 3;
    }
    if ((lead & 0xF8) == 0xF0) {
        return 4;
    }
    return 0;
}

// Decodes one code point at offset; an invalid or cut-off sequence is one byte without a value.
CodePoint decodeAt(std::string_view text, std::size_t offset)
{
    const auto lead = static_cast<unsigned char>(text[offset]);
    const std::size_t length = sequenceLength(lead);
    if (length == 0 || offset + length > text.size()) {
        return {offset, 1, std::nullopt};
    }
    if (length == 1) {
        return {offset, 1, lead};
    }
    char32_t value = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[offset + i]);
        if ((next & 0xC0) != 0x80) {
            return {offset, 1, std::nullopt};
        }
        value = (value << 6) | (next & 0x3F);
    }
    return {offset, length, value};
}

std::vector<CodePoint> decode(std::string_view text)
{
    std::vector<CodePoint> points;
    for (std::size_t offset = 0; offset < text.size();) {
        points.push_back(decodeAt(text, offset));
        offset += points.back().length;
    }
    return points;
}

bool isWhiteSpace(char32_t c)
{
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
        (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

bool isControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

} // namespace

std::string trimDraft(std::string_view draft)
{
    const auto points = decode(draft);
    auto blank = [](const CodePoint& p) { return p.value && isWhiteSpace(*p.value); };
    std::size_t first = 0;
    while (first < points.size() && blank(points[first])) {
        ++first;
    }
    std::size_t last = points.size();
    while (last > first && blank(points[last - 1])) {
        --last;
    }
    if (first == last) {
        return {};
    }
    const std::size_t begin = points[first].offset;
    const std::size_t end = points[last - 1].offset + points[last - 1].length;
    return std::string(draft.substr(begin, end - begin));
}

std::string printableText(std::string_view text)
{
    std::string printable;
    printable.reserve(text.size());
    for (const auto& point : decode(text)) {
        if (!point.value || !isControl(*point.value)) {
            printable.append(text.substr(point.offset, point.length));
        }
    }
    return printable;
}

} // namespace tavoro::chat
