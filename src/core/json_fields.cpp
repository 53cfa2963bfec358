#include "core/json_fields.h"

#include <cmath>

namespace tavoro::json {

const Json* find(const Json& msg, std::string_view key)
{
    if (!msg.is_object()) {
        return nullptr;
    }
    auto it = msg.find(key);
    return it == msg.end() ? nullptr : &*it;
}

std::string stringField(const Json& msg, std::string_view key)
{
    const Json* value = find(msg, key);
    return value && value->is_string() ? value->get<std::string>() : std::string();
}

bool boolField(const Json& msg, std::string_view key)
{
    const Json* value = find(msg, key);
    return value && value->is_boolean() && value->get<bool>();
}

const Json* objectField(const Json& msg, std::string_view key)
{
    const Json* value = find(msg, key);
    return value && value->is_object() ? value : nullptr;
}

const Json::array_t& arrayField(const Json& msg, std::string_view key)
{
    static const Json::array_t empty;
    const Json* value = find(msg, key);
    return value && value->is_array() ? value->get_ref<const Json::array_t&>() : empty;
}

std::optional<std::int64_t> asInteger(const Json& value)
{
    if (value.is_number_integer() && !value.is_number_unsigned()) {
        return value.get<std::int64_t>();
    }
    if (value.is_number_unsigned()) {
        auto u = value.get<std::uint64_t>();
        if (u > static_cast<std::uint64_t>(INT64_MAX)) {
            return std::nullopt;
        }
        return static_cast<std::int64_t>(u);
    }
    if (value.is_number_float()) {
        double d = std::trunc(value.get<double>());
        // -2^63 is exactly representable; 2^63 is the first value that no longer fits.
        if (!std::isfinite(d) || d < -9223372036854775808.0 || d >= 9223372036854775808.0) {
            return std::nullopt;
        }
        return static_cast<std::int64_t>(d);
    }
    return std::nullopt;
}

std::optional<std::int64_t> intField(const Json& msg, std::string_view key)
{
    const Json* value = find(msg, key);
    return value ? asInteger(*value) : std::nullopt;
}

std::int64_t intField(const Json& msg, std::string_view key, std::int64_t fallback)
{
    return intField(msg, key).value_or(fallback);
}

std::optional<double> doubleField(const Json& msg, std::string_view key)
{
    const Json* value = find(msg, key);
    if (!value || !value->is_number()) {
        return std::nullopt;
    }
    return value->get<double>();
}

std::optional<Json> parse(std::string_view text)
{
    Json value = Json::parse(text, nullptr, false);
    if (value.is_discarded()) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::string> dump(const Json& value)
{
    try {
        return value.dump();
    } catch (const Json::exception&) {
        return std::nullopt;
    }
}

} // namespace tavoro::json
