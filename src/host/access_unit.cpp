#include "host/access_unit.h"

namespace tavoro::host {

namespace {

constexpr int spsType = 7;
constexpr int ppsType = 8;
constexpr std::uint8_t startCode[] = {0, 0, 0, 1};

constexpr std::size_t notFound = static_cast<std::size_t>(-1);

// The offset of the next 00 00 01 at or after `from`, or notFound.
std::size_t findStartCode(std::span<const std::uint8_t> stream, std::size_t from)
{
    for (std::size_t i = from; i + 3 <= stream.size(); ++i) {
        if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1) {
            return i;
        }
    }
    return notFound;
}

void appendUnit(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> unit)
{
    out.insert(out.end(), std::begin(startCode), std::end(startCode));
    out.insert(out.end(), unit.begin(), unit.end());
}

} // namespace

std::vector<std::span<const std::uint8_t>> splitAnnexB(std::span<const std::uint8_t> stream)
{
    std::vector<std::span<const std::uint8_t>> units;
    std::size_t startCode = findStartCode(stream, 0);
    while (startCode != notFound) {
        const std::size_t begin = startCode + 3;
        startCode = findStartCode(stream, begin);
        std::size_t end = startCode == notFound ? stream.size() : startCode;
        // A unit never ends in a zero byte; zeros there belong to the next start code or are padding.
        while (end > begin && stream[end - 1] == 0) {
            --end;
        }
        if (end > begin) {
            units.push_back(stream.subspan(begin, end - begin));
        }
    }
    return units;
}

std::vector<std::uint8_t> AccessUnitWriter::write(std::span<const std::uint8_t> encoded, bool keyframe)
{
    const auto units = splitAnnexB(encoded);
    for (const auto unit : units) {
        if (nalType(unit) == spsType) {
            sps_.assign(unit.begin(), unit.end());
        } else if (nalType(unit) == ppsType) {
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
        const int type = nalType(unit);
        if (keyframe && (type == spsType || type == ppsType)) {
            continue; // already in front
        }
        appendUnit(out, unit);
    }
    return out;
}

} // namespace tavoro::host
