#include "protocol/key_codes.h"

#include <algorithm>
#include <array>

namespace tavoro::protocol {

namespace {

constexpr std::array fixedKeys{key::backspace, key::tab, key::enter, key::shift, key::control, key::alt,
    key::escape, key::space, key::pageUp, key::pageDown, key::end, key::home, key::left, key::up, key::right,
    key::down, key::forwardDelete, key::superLeft, key::superRight};

constexpr std::size_t keyCount = fixedKeys.size() + key::digitCount + key::letterCount + key::functionKeyCount;

constexpr void appendRun(std::array<KeyCode, keyCount>& codes, std::size_t& next, KeyCode first, int count)
{
    for (int i = 0; i < count; ++i) {
        codes[next++] = static_cast<KeyCode>(first + i);
    }
}

constexpr std::array<KeyCode, keyCount> buildCodes()
{
    std::array<KeyCode, keyCount> codes{};
    std::size_t next = 0;
    for (const KeyCode code : fixedKeys) {
        codes[next++] = code;
    }
    appendRun(codes, next, key::digit0, key::digitCount);
    appendRun(codes, next, key::letterA, key::letterCount);
    appendRun(codes, next, key::f1, key::functionKeyCount);
    std::sort(codes.begin(), codes.end());
    return codes;
}

constexpr auto codes = buildCodes();

} // namespace

std::span<const KeyCode> knownKeyCodes() { return codes; }

bool isKnownKeyCode(std::int64_t vk)
{
    return vk >= 0 && vk <= 0xFFFF && std::binary_search(codes.begin(), codes.end(), static_cast<KeyCode>(vk));
}

bool isModifierKey(KeyCode code)
{
    return code == key::shift || code == key::control || code == key::alt || code == key::superLeft ||
        code == key::superRight;
}

} // namespace tavoro::protocol
