#pragma once

#include "ui/logic/geometry.h"

#include <QWidget>

#include <optional>

namespace tavoro::ui {

// The host's pointer drawn over the picture: the arrow of remoteCursorArrow, white with a black outline,
// placed with its tip at a point of its parent. Lets every mouse event through to the parent.
// GUI thread only.
class RemoteCursorArrow final : public QWidget {
public:
    explicit RemoteCursorArrow(QWidget* parent);

    // Shows the arrow with its tip here, or hides it.
    void place(std::optional<PointF> tip);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace tavoro::ui
