#pragma once

// What the remote screen view shows of a control session: how the picture fits the view, and where
// the host's pointer is. Plain values, usable on any thread.
namespace tavoro::control {

enum class DisplayMode { aspect, stretch, native };

// The host's pointer as it last reported it, in normalised coordinates.
struct RemoteCursor {
    double x = 0;
    double y = 0;
    bool hidden = false;
    bool operator==(const RemoteCursor&) const = default;
};

} // namespace tavoro::control
