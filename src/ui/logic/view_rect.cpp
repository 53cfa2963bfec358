#include "ui/logic/view_rect.h"

#include <cmath>

namespace tavoro::ui {
namespace {

RectF aspectFit(double rw, double rh, SizeF view)
{
    if (view.width / view.height > rw / rh) {
        const double width = view.height * rw / rh;
        return {(view.width - width) / 2, 0, width, view.height};
    }
    const double height = view.width * rh / rw;
    return {0, (view.height - height) / 2, view.width, height};
}

RectF actualPixels(double rw, double rh, SizeF view, double pixelRatio)
{
    const double scale = pixelRatio > 0 ? pixelRatio : 1;
    const double width = rw / scale;
    const double height = rh / scale;
    return {std::round((view.width - width) / 2), std::round((view.height - height) / 2), width, height};
}

} // namespace

RectF videoRect(control::DisplayMode mode, int remoteW, int remoteH, SizeF view, double pixelRatio)
{
    const RectF whole{0, 0, view.width, view.height};
    if (remoteW <= 0 || remoteH <= 0 || !whole.hasArea()) {
        return whole;
    }
    switch (mode) {
    case control::DisplayMode::aspect:
        return aspectFit(remoteW, remoteH, view);
    case control::DisplayMode::native:
        return actualPixels(remoteW, remoteH, view, pixelRatio);
    case control::DisplayMode::stretch:
        break;
    }
    return whole;
}

std::optional<PointF> normalisedPosition(PointF viewPosition, const RectF& picture)
{
    if (!picture.hasArea()) {
        return std::nullopt;
    }
    const double x = (viewPosition.x - picture.x) / picture.width;
    const double y = (viewPosition.y - picture.y) / picture.height;
    const auto inUnit = [](double v) { return v >= 0 && v <= 1; };
    if (!inUnit(x) || !inUnit(y)) {
        return std::nullopt;
    }
    return PointF{x, y};
}

} // namespace tavoro::ui
