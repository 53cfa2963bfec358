#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace tavoro::host {

// Rewrites an encoder's Annex-B output into the access unit form the controllers expect: every NAL
// unit behind a 4-byte start code, and for a keyframe the sequence and then the picture parameter
// set in front of everything else. Other units (SEI, slices) keep their order. Parameter sets seen
// in earlier output are remembered and put in front of a keyframe that comes without them.
// One instance per encoder, used by one thread at a time.
class AccessUnitWriter {
public:
    // An empty result means there was nothing to send.
    std::vector<std::uint8_t> write(std::span<const std::uint8_t> encoded, bool keyframe);

private:
    std::vector<std::uint8_t> sps_;
    std::vector<std::uint8_t> pps_;
};

} // namespace tavoro::host
