#include "protocol/annexb.h"

namespace tavoro::protocol {
namespace {

// The length of the start code that begins at `at` (4 tried before 3), or 0 when none begins there.
std::size_t startCodeAt(std::span<const std::uint8_t> bytes, std::size_t at)
{
    const std::size_t left = bytes.size() - at;
    if (left >= 3 && bytes[at] == 0 && bytes[at + 1] == 0) {
        if (left >= 4 && bytes[at + 2] == 0 && bytes[at + 3] == 1) {
            return 4;
        }
        if (bytes[at + 2] == 1) {
            return 3;
        }
    }
    return 0;
}

// The first position at or after `from` where a start code begins, or the end of the data.
std::size_t nextStartCode(std::span<const std::uint8_t> bytes, std::size_t from)
{
    for (std::size_t at = from; at < bytes.size(); ++at) {
        if (startCodeAt(bytes, at) != 0) {
            return at;
        }
    }
    return bytes.size();
}

} // namespace

std::vector<NalUnit> splitAnnexB(std::span<const std::uint8_t> accessUnit)
{
    std::vector<NalUnit> units;
    std::size_t at = nextStartCode(accessUnit, 0);
    while (at < accessUnit.size()) {
        const std::size_t begin = at + startCodeAt(accessUnit, at);
        at = nextStartCode(accessUnit, begin);
        if (at > begin) {
            units.push_back(accessUnit.subspan(begin, at - begin));
        }
    }
    return units;
}

int nalType(NalUnit unit) { return unit.empty() ? -1 : unit[0] & 0x1F; }

} // namespace tavoro::protocol
