#pragma once

// Plain geometry in the view's logical coordinates: origin at the top-left corner, y growing downwards.
namespace tavoro::ui {

struct PointF {
    double x = 0;
    double y = 0;
    bool operator==(const PointF&) const = default;
};

struct SizeF {
    double width = 0;
    double height = 0;
    bool operator==(const SizeF&) const = default;
};

struct RectF {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    bool hasArea() const { return width > 0 && height > 0; }
    bool operator==(const RectF&) const = default;
};

// Whole logical pixels, as window frames and screens are measured.
struct Size {
    int width = 0;
    int height = 0;
    bool operator==(const Size&) const = default;
};

struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const Rect&) const = default;
};

} // namespace tavoro::ui
