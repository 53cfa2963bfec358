#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// How file sizes and transfer progress are shown. Pure functions, safe from any thread.
namespace tavoro::files {

// Below 1024 bytes the number and " B" ("1023 B"); else divided by 1024 while at least 1024, at most
// four times, with one decimal and the unit: "1.0 KB", "1.5 MB", "2.0 GB", "4096.0 TB".
std::string sizeText(std::int64_t bytes);

// The fraction of a transfer done, 0 to 1: sent / total (capped at 1); for an empty file 1 once its
// status is the finished text "完成", else 0.
double transferFraction(std::int64_t sent, std::int64_t total, std::string_view status);

} // namespace tavoro::files
