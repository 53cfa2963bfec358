#pragma once

#include <cstdint>
#include <span>
#include <vector>

// H.264 Annex-B byte streams as both ends see them. Pure functions, callable from any thread.
namespace tavoro::protocol {

// One NAL unit of an access unit, without its start code; it points into the access unit's bytes.
using NalUnit = std::span<const std::uint8_t>;

// NAL unit types this system looks at.
enum NalType : int { idrSliceNal = 5, seiNal = 6, spsNal = 7, ppsNal = 8 };

// The NAL units of an Annex-B access unit, in order. A unit starts behind 00 00 00 01 or 00 00 01 and
// runs up to where the next start code begins (at each position the 4-byte code is tried first), so
// zero bytes in front of a 3-byte code stay in the unit before it. Bytes before the first start code
// are dropped, empty units are skipped, and data without a start code gives no unit.
std::vector<NalUnit> splitAnnexB(std::span<const std::uint8_t> accessUnit);

// The type field of a unit: the low 5 bits of its first byte.
int nalType(NalUnit unit);

} // namespace tavoro::protocol
