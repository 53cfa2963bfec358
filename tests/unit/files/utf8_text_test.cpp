#include "files/utf8_text.h"

#include <gtest/gtest.h>

namespace tavoro::files {
namespace {

TEST(Utf8Text, KeepsValidTextAndReplacesEachStrayByte)
{
    const struct {
        std::string given;
        std::string expected;
    } cases[] = {
        {"plain.txt", "plain.txt"},
        {"文件 ü 😀", "文件 ü 😀"},
        {"a\xFF" "b", "a\uFFFD" "b"},
        {"\xC0\xAF", "\uFFFD\uFFFD"},          // overlong "/"
        {"\xED\xA0\x80", "\uFFFD\uFFFD\uFFFD"}, // a surrogate
        {"\xF4\x90\x80\x80", "\uFFFD\uFFFD\uFFFD\uFFFD"}, // above U+10FFFF
        {"x\xE6\x96", "x\uFFFD\uFFFD"},         // cut short
    };
    for (const auto& c : cases) {
        EXPECT_EQ(toValidUtf8(c.given), c.expected) << c.given;
    }
}

} // namespace
} // namespace tavoro::files
