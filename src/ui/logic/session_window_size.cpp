#include "ui/logic/session_window_size.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace tavoro::ui {
namespace {

// Rounds half away from zero into [low, high]; the bounds keep the conversion defined.
int roundedWithin(double value, int low, int high)
{
    return static_cast<int>(std::clamp(std::round(value), static_cast<double>(low), static_cast<double>(high)));
}

std::int64_t overlapArea(const Rect& a, const Rect& b)
{
    const std::int64_t width = std::min<std::int64_t>(std::int64_t{a.x} + a.width, std::int64_t{b.x} + b.width) -
        std::max(a.x, b.x);
    const std::int64_t height = std::min<std::int64_t>(std::int64_t{a.y} + a.height, std::int64_t{b.y} + b.height) -
        std::max(a.y, b.y);
    return width > 0 && height > 0 ? width * height : 0;
}

const Rect& screenFor(const Rect& frame, std::span<const Rect> screens)
{
    const auto most = std::max_element(screens.begin(), screens.end(),
        [&frame](const Rect& a, const Rect& b) { return overlapArea(frame, a) < overlapArea(frame, b); });
    return overlapArea(frame, *most) > 0 ? *most : screens.front();
}

} // namespace

std::optional<Size> firstContentSize(int remoteW, int remoteH, Size available)
{
    if (remoteW <= 0 || remoteH <= 0) {
        return std::nullopt;
    }
    double pictureW = sessionWindowFirstWidth;
    double pictureH = pictureW * remoteH / remoteW;
    const double roomH = available.height - sessionToolbarHeight;
    if (available.width > 0 && roomH > 0) {
        const double scale = std::min({1.0, available.width / pictureW, roomH / pictureH});
        pictureW *= scale;
        pictureH *= scale;
    }
    constexpr int most = std::numeric_limits<int>::max();
    return Size{roundedWithin(pictureW, sessionWindowMinContent.width, most),
        roundedWithin(pictureH + sessionToolbarHeight, sessionWindowMinContent.height, most)};
}

std::optional<Rect> frameOnScreens(const Rect& saved, std::span<const Rect> screens)
{
    if (screens.empty() || saved.width <= 0 || saved.height <= 0) {
        return std::nullopt;
    }
    const Rect& screen = screenFor(saved, screens);
    const int width = std::min(saved.width, screen.width);
    const int height = std::min(saved.height, screen.height);
    return Rect{std::clamp(saved.x, screen.x, screen.x + screen.width - width),
        std::clamp(saved.y, screen.y, screen.y + screen.height - height), width, height};
}

} // namespace tavoro::ui
