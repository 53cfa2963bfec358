#include "files/size_text.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace tavoro::files {

std::string sizeText(std::int64_t bytes)
{
    if (bytes < 1024) {
        return std::to_string(bytes) + " B";
    }
    static constexpr std::array<const char*, 4> kUnits{"KB", "MB", "GB", "TB"};
    double value = static_cast<double>(bytes) / 1024.0;
    std::size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < kUnits.size()) {
        value /= 1024.0;
        ++unit;
    }
    std::array<char, 64> text{};
    std::snprintf(text.data(), text.size(), "%.1f %s", value, kUnits[unit]);
    return text.data();
}

double transferFraction(std::int64_t sent, std::int64_t total, std::string_view status)
{
    if (total >= 1) {
        return std::clamp(static_cast<double>(sent) / static_cast<double>(total), 0.0, 1.0);
    }
    return status == "完成" ? 1.0 : 0.0;
}

} // namespace tavoro::files
