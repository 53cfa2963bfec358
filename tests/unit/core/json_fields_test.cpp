#include "core/json_fields.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace tavoro::json {
namespace {

TEST(JsonFields, MistypedOrMissingFieldsReadAsEmpty)
{
    auto msg = Json::parse(R"({"s":"x","n":5,"b":true,"o":{"k":1},"a":[1,2],"nul":null})");
    EXPECT_EQ(stringField(msg, "s"), "x");
    EXPECT_EQ(stringField(msg, "n"), "");
    EXPECT_EQ(stringField(msg, "missing"), "");
    EXPECT_TRUE(boolField(msg, "b"));
    EXPECT_FALSE(boolField(msg, "n"));
    EXPECT_FALSE(boolField(msg, "s"));
    ASSERT_NE(objectField(msg, "o"), nullptr);
    EXPECT_EQ(objectField(msg, "a"), nullptr);
    EXPECT_EQ(objectField(msg, "nul"), nullptr);
    EXPECT_EQ(arrayField(msg, "a").size(), 2u);
    EXPECT_TRUE(arrayField(msg, "o").empty());
    EXPECT_TRUE(arrayField(msg, "missing").empty());
}

TEST(JsonFields, ReadingFromANonObjectNeverThrows)
{
    for (const auto* text : {"[1,2]", "\"text\"", "3", "null"}) {
        auto value = Json::parse(text);
        EXPECT_EQ(stringField(value, "type"), "") << text;
        EXPECT_FALSE(boolField(value, "type")) << text;
        EXPECT_EQ(intField(value, "type"), std::nullopt) << text;
        EXPECT_TRUE(arrayField(value, "type").empty()) << text;
    }
}

TEST(JsonFields, IntegersComeFromIntegersAndTruncatedFloats)
{
    auto msg = Json::parse(R"({"i":42,"neg":-7,"f":3.9,"nf":-3.9,"s":"12","b":true,"big":18446744073709551615,
                             "max":9223372036854775807,"huge":1e300,"edge":9223372036854775808.0,"min":-9223372036854775808.0})");
    EXPECT_EQ(intField(msg, "i"), 42);
    EXPECT_EQ(intField(msg, "neg"), -7);
    EXPECT_EQ(intField(msg, "f"), 3);
    EXPECT_EQ(intField(msg, "nf"), -3);
    EXPECT_EQ(intField(msg, "s"), std::nullopt);
    EXPECT_EQ(intField(msg, "b"), std::nullopt);
    EXPECT_EQ(intField(msg, "big"), std::nullopt);
    EXPECT_EQ(intField(msg, "max"), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(intField(msg, "huge"), std::nullopt);
    EXPECT_EQ(intField(msg, "edge"), std::nullopt);
    EXPECT_EQ(intField(msg, "min"), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(intField(msg, "missing", 25), 25);
    EXPECT_EQ(intField(msg, "s", 25), 25);

    msg["inf"] = std::numeric_limits<double>::infinity();
    msg["nan"] = std::nan("");
    EXPECT_EQ(intField(msg, "inf"), std::nullopt) << "non-finite numbers count as absent";
    EXPECT_EQ(intField(msg, "nan"), std::nullopt);
}

TEST(JsonFields, ParseAndDumpNeverThrow)
{
    EXPECT_FALSE(parse("{not json").has_value());
    EXPECT_FALSE(parse("").has_value());
    EXPECT_TRUE(parse("[]").has_value());
    Json bad = Json::object();
    bad["text"] = std::string("\xff\xfe");
    EXPECT_FALSE(dump(bad).has_value());
    EXPECT_EQ(dump(Json{{"a", 1}}), std::optional<std::string>(R"({"a":1})"));
}

TEST(JsonFields, DeeplyNestedInputIsHandled)
{
    std::string text(100000, '[');
    text += std::string(100000, ']');
    auto parsed = parse(text);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(stringField(*parsed, "type"), "");
}

} // namespace
} // namespace tavoro::json
