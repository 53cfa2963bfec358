// Encoder output of any shape: the access unit writer never reads out of bounds, and everything it
// emits is units behind 4-byte start codes.
#include "host/access_unit.h"
#include "protocol/annexb.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static tavoro::host::AccessUnitWriter writer; // keeps parameter sets across inputs, as in a stream
    if (size == 0) {
        return 0;
    }
    const bool keyframe = data[0] & 1;
    const auto out = writer.write({data + 1, size - 1}, keyframe);
    const auto units = tavoro::protocol::splitAnnexB(out);
    std::size_t rebuilt = 0;
    for (const auto unit : units) {
        rebuilt += 4 + unit.size();
    }
    if (!out.empty() && (out.size() < 5 || out[0] != 0 || out[1] != 0 || out[2] != 0 || out[3] != 1)) {
        std::abort();
    }
    if (rebuilt > out.size()) {
        std::abort();
    }
    return 0;
}
