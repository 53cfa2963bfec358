#include "host/access_unit.h"

#include "protocol/annexb.h"

namespace tavoro::host {

namespace {

constexpr std::uint8_t startCode[] = {0, 0, 0, 1};

void appendUnit(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> unit)
{
    out.insert(out.end(), std::begin(startCode), std::end(startCode));
    out.insert(out.end(), unit.begin(), unit.end());
}

// The encoder's units without the zero bytes that may pad their ends.
std::vector<protocol::NalUnit> unitsOf(std::span<const std::uint8_t> encoded)
{
    auto units = protocol::splitAnnexB(encoded);
    for (auto& unit : units) {
        while (!unit.empty() && unit.back() == 0) {
            unit = unit.first(unit.size() - 1);
        }
    }
    std::erase_if(units, [](protocol::NalUnit unit) { return unit.empty(); });
    return units;
}

} // namespace

std::vector<std::uint8_t> AccessUnitWriter::write(std::span<const std::uint8_t> encoded, bool keyframe)
{
    const auto units = unitsOf(encoded);
    for (const auto unit : units) {
        if (protocol::nalType(unit) == protocol::spsNal) {
            sps_.assign(unit.begin(), unit.end());
        } else if (protocol::nalType(unit) == protocol::ppsNal) {
            pps_.assign(unit.begin(), unit.end());
        }
    }
    std::vector<std::uint8_t> out;
    out.reserve(encoded.size() + 4 * units.size() + (keyframe ? sps_.size() + pps_.size() + 8 : 0));
    if (keyframe) {
        if (!sps_.empty()) {
            appendUnit(out, sps_);
        }
        if (!pps_.empty()) {
            appendUnit(out, pps_);
        }
    }
    for (const auto unit : units) {
        const int type = protocol::nalType(unit);
        if (keyframe && (type == protocol::spsNal || type == protocol::ppsNal)) {
            continue; // already in front
        }
        appendUnit(out, unit);
    }
    return out;
}

} // namespace tavoro::host
