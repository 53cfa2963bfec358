#include "host/output_size.h"

#include <algorithm>
#include <cmath>

namespace tavoro::host {

namespace {

constexpr int maxWidth = 2560;
constexpr int maxHeight = 1440;

int roundedEven(double value)
{
    auto n = static_cast<int>(std::round(value)); // halves away from zero
    n &= ~1;
    return n < 3 ? 2 : n;
}

} // namespace

OutputSize captureOutputSize(int width, int height)
{
    if (width <= 0 || height <= 0) {
        return {maxWidth, maxHeight};
    }
    const double scale = std::min({static_cast<double>(maxWidth) / width,
        static_cast<double>(maxHeight) / height, 1.0});
    return {roundedEven(width * scale), roundedEven(height * scale)};
}

} // namespace tavoro::host
