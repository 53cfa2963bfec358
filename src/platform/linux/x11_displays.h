#pragma once

#include "platform/capture_source.h"
#include "platform/linux/xcb_handles.h"

namespace tavoro::platform {

// The displays of an X screen: its RandR monitors, the primary first and the others from left to
// right, then top to bottom, each clipped to the screen; the whole screen when RandR reports none.
std::vector<DisplayInfo> listX11Displays(const X11Connection& connection);

} // namespace tavoro::platform
