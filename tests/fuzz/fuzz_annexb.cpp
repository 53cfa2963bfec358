// Any bytes as a received access unit: every unit the splitter returns lies inside the input behind a
// start code, holds no start code, and is never empty; the parameter-set tracker keeps only parameter
// sets it was given and passes on no parameter set or SEI as a picture unit.
#include "control/parameter_sets.h"

#include <algorithm>
#include <cstdlib>

namespace {

using tavoro::control::NalUnit;

bool holdsStartCode(NalUnit unit)
{
    for (std::size_t i = 0; i + 3 <= unit.size(); ++i) {
        if (unit[i] == 0 && unit[i + 1] == 0 && unit[i + 2] == 1) {
            return true;
        }
    }
    return false;
}

void check(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static tavoro::control::ParameterSetTracker tracker; // keeps parameter sets across inputs, as in a stream
    const std::span<const std::uint8_t> input(data, size);
    const auto units = tavoro::protocol::splitAnnexB(input);
    const std::uint8_t* previousEnd = data;
    for (const NalUnit unit : units) {
        check(!unit.empty() && unit.data() >= previousEnd + 3 && unit.data() + unit.size() <= data + size);
        check(unit.data()[-3] == 0 && unit.data()[-2] == 0 && unit.data()[-1] == 1);
        check(!holdsStartCode(unit));
        previousEnd = unit.data() + unit.size();
    }
    const auto classified = tracker.classify(units);
    for (const NalUnit unit : classified.pictureUnits) {
        const int type = tavoro::protocol::nalType(unit);
        check(type != 6 && type != 7 && type != 8);
    }
    const auto given = [&](NalUnit stored) {
        return std::ranges::any_of(units, [&](NalUnit unit) { return std::ranges::equal(unit, stored); });
    };
    if (classified.parametersChanged) {
        check(given(tracker.sps()) || given(tracker.pps()));
    }
    return 0;
}
