#pragma once

#include "ui/logic/geometry.h"

#include <optional>
#include <span>

// How big a session window is and where it may stand. Pure functions, callable from any thread.
namespace tavoro::ui {

inline constexpr Size sessionWindowMinContent{640, 400};
inline constexpr Size sessionWindowInitialContent{1280, 760};
// The session view's toolbar above the picture.
inline constexpr int sessionToolbarHeight = 40;
inline constexpr int sessionWindowFirstWidth = 1280;

// The content size a session window takes once the remote size is first known, when no saved frame
// placed it: 1280 wide and as high as the remote aspect asks plus the toolbar, rounded half away from
// zero. Computed in floating point, so any pair of remote sides is safe. When that does not fit
// `available` (the content area the screen leaves; ignored without area), the picture shrinks keeping
// its aspect until it does; the minimum content size wins over both. None while the remote size is not
// known (a side not positive).
std::optional<Size> firstContentSize(int remoteW, int remoteH, Size available);

// A saved window frame moved onto the screens that exist now: onto the screen it overlaps most, or the
// first screen (the primary) when it overlaps none; shrunk to that screen if larger and shifted until
// it lies within it. None when there is no screen or the saved frame has no area.
std::optional<Rect> frameOnScreens(const Rect& saved, std::span<const Rect> screens);

} // namespace tavoro::ui
