#pragma once

#include "protocol/annexb.h"

#include <cstdint>
#include <span>
#include <vector>

namespace tavoro::control {

using protocol::NalUnit;

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
