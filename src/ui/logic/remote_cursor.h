#pragma once

#include "control/view_state.h"
#include "ui/logic/geometry.h"

#include <array>
#include <optional>

// The host's pointer drawn over the picture for a viewer. Pure functions, callable from any thread.
namespace tavoro::ui {

// A controller that does not hold control sees the host's pointer drawn; while it holds control, or
// while the control state is unknown, the local pointer is the only one.
bool showsRemoteCursor(bool controlKnown, bool hasControl);

// Where the arrow's tip goes in the view, or none when the arrow is hidden: no cursor reported, not
// shown, hidden by the host, or a picture without area.
std::optional<PointF> remoteCursorTip(const std::optional<control::RemoteCursor>& cursor, bool show,
    const RectF& picture);

// The arrow: a closed outline in an 11 × 18 box with its tip at (0, 0), y downwards; drawn white with
// a black one-pixel outline above the picture.
inline constexpr std::array<PointF, 7> remoteCursorArrow{
    {{0, 0}, {0, 16}, {4, 12}, {7, 18}, {9, 17}, {6, 11}, {11, 11}}};

} // namespace tavoro::ui
