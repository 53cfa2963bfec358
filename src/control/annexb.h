#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace tavoro::control {

// One NAL unit of an access unit, without its start code; it points into the access unit's bytes.
using NalUnit = std::span<const std::uint8_t>;

// The NAL units of an Annex-B access unit, in order. A unit starts behind 00 00 00 01 or 00 00 01 and
// runs up to where the next start code begins (at each position the 4-byte code is tried first), so
// zero bytes in front of a 3-byte code stay in the unit before it. Bytes before the first start code
// are dropped, empty units are skipped, and data without a start code gives no unit.
std::vector<NalUnit> splitAnnexB(std::span<const std::uint8_t> accessUnit);

// The type field of a unit: the low 5 bits of its first byte.
int nalType(NalUnit unit);

// Whether one of the units is a slice of an IDR picture (a keyframe to start decoding at).
bool containsIdrSlice(std::span<const NalUnit> units);

// An access unit sorted for the decoder.
struct ClassifiedUnits {
    std::vector<NalUnit> pictureUnits; // everything but parameter sets and SEI, in order
    bool parametersChanged = false;    // a sequence or picture parameter set differed from the stored one
    bool idrSlice = false;
};

// The parameter sets a stream has declared so far. Pure state, one thread at a time.
class ParameterSetTracker {
public:
    // Stores each sequence or picture parameter set that differs byte-wise from the stored one, drops
    // SEI units, and keeps the rest as picture units.
    ClassifiedUnits classify(std::span<const NalUnit> units);

    // Both a sequence and a picture parameter set are known.
    bool complete() const { return !sps_.empty() && !pps_.empty(); }
    NalUnit sps() const { return sps_; }
    NalUnit pps() const { return pps_; }
    void reset();

private:
    std::vector<std::uint8_t> sps_; // empty: none seen (a unit is never empty)
    std::vector<std::uint8_t> pps_;
};

} // namespace tavoro::control
