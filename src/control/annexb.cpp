#include "control/annexb.h"

#include <algorithm>

namespace tavoro::control {

namespace {

constexpr int seiType = 6;
constexpr int spsType = 7;
constexpr int ppsType = 8;
constexpr int idrSliceType = 5;

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

// Stores `unit` in `stored` when it differs; true when it did.
bool storeIfChanged(std::vector<std::uint8_t>& stored, NalUnit unit)
{
    if (std::ranges::equal(stored, unit)) {
        return false;
    }
    stored.assign(unit.begin(), unit.end());
    return true;
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

bool containsIdrSlice(std::span<const NalUnit> units)
{
    return std::ranges::any_of(units, [](NalUnit unit) { return nalType(unit) == idrSliceType; });
}

ClassifiedUnits ParameterSetTracker::classify(std::span<const NalUnit> units)
{
    ClassifiedUnits result;
    for (const NalUnit unit : units) {
        switch (nalType(unit)) {
        case seiType:
            break;
        case spsType:
            result.parametersChanged |= storeIfChanged(sps_, unit);
            break;
        case ppsType:
            result.parametersChanged |= storeIfChanged(pps_, unit);
            break;
        default:
            result.pictureUnits.push_back(unit);
        }
    }
    result.idrSlice = containsIdrSlice(result.pictureUnits);
    return result;
}

void ParameterSetTracker::reset()
{
    sps_.clear();
    pps_.clear();
}

} // namespace tavoro::control
