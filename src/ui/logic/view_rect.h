#pragma once

#include "control/view_state.h"
#include "ui/logic/geometry.h"

#include <optional>

// Where the remote picture sits in the remote screen view, and which point of the picture a view
// position is. Pure functions, callable from any thread.
namespace tavoro::ui {

// The picture's rectangle in a view of `view` logical pixels for a remote screen of remoteW × remoteH
// pixels. The whole view when the remote size is unknown (not positive) or the view has no area;
// otherwise aspect: the largest centred rectangle of the remote aspect; stretch: the whole view;
// native: one remote pixel per physical pixel (remote size / pixelRatio, a ratio that is not positive
// counting as 1), centred with the origin rounded half away from zero, negative when the picture is
// larger than the view.
RectF videoRect(control::DisplayMode mode, int remoteW, int remoteH, SizeF view, double pixelRatio);

// The picture point under a view position, (0, 0) at the picture's top-left corner and (1, 1) at its
// bottom-right; none when the picture has no area or the position lies outside it.
std::optional<PointF> normalisedPosition(PointF viewPosition, const RectF& picture);

} // namespace tavoro::ui
