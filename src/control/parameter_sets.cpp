#include "control/parameter_sets.h"

#include <algorithm>

namespace tavoro::control {

namespace {

using protocol::nalType;

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

bool containsIdrSlice(std::span<const NalUnit> units)
{
    return std::ranges::any_of(units, [](NalUnit unit) { return nalType(unit) == protocol::idrSliceNal; });
}

ClassifiedUnits ParameterSetTracker::classify(std::span<const NalUnit> units)
{
    ClassifiedUnits result;
    for (const NalUnit unit : units) {
        switch (nalType(unit)) {
        case protocol::seiNal:
            break;
        case protocol::spsNal:
            result.parametersChanged |= storeIfChanged(sps_, unit);
            break;
        case protocol::ppsNal:
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
