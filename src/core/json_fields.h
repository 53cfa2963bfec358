#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Lenient readers for the fields of a message dictionary. A missing or mistyped field never fails:
// it reads as empty, false, none or the given default.
namespace tavoro::json {

using Json = nlohmann::json;

// The value under key when msg is an object holding it, else nullptr.
const Json* find(const Json& msg, std::string_view key);

// The text under key when it is a JSON string, else "".
std::string stringField(const Json& msg, std::string_view key);
// The boolean under key; absent or not a boolean reads as false.
bool boolField(const Json& msg, std::string_view key);
// The object under key, else nullptr.
const Json* objectField(const Json& msg, std::string_view key);
// The array under key; absent or not an array reads as an empty array.
const Json::array_t& arrayField(const Json& msg, std::string_view key);

// An integer from a JSON integer, or from a floating-point number truncated toward zero. Numbers that
// are not finite or do not fit a signed 64-bit integer, and every other type, count as absent.
std::optional<std::int64_t> asInteger(const Json& value);
std::optional<std::int64_t> intField(const Json& msg, std::string_view key);
std::int64_t intField(const Json& msg, std::string_view key, std::int64_t fallback);

// A number (integer or floating point) as a double; anything else counts as absent.
std::optional<double> doubleField(const Json& msg, std::string_view key);

// Parses text as JSON without throwing; nullopt when it is not valid JSON.
std::optional<Json> parse(std::string_view text);
// Serialises without throwing; nullopt when the value holds text that is not valid UTF-8.
std::optional<std::string> dump(const Json& value);

} // namespace tavoro::json
