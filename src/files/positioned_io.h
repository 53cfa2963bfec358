#pragma once

#include <cstdint>
#include <span>

// Whole reads and writes at a file offset, retried across interruptions and short transfers.
namespace tavoro::files {

// False on an error or when the file ends first.
bool readExactlyAt(int fd, std::span<std::uint8_t> bytes, std::int64_t offset);
// False on an error (a full disk among them).
bool writeAllAt(int fd, std::span<const std::uint8_t> bytes, std::int64_t offset);

} // namespace tavoro::files
