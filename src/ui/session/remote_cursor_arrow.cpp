#include "ui/session/remote_cursor_arrow.h"

#include "ui/logic/remote_cursor.h"

#include <QPainter>
#include <QPolygonF>

#include <cmath>

namespace tavoro::ui {
namespace {

// The outline is one pixel wide around the 11 × 18 arrow, so half a pixel spills out on every side.
constexpr int kMargin = 1;

} // namespace

RemoteCursorArrow::RemoteCursorArrow(QWidget* parent) : QWidget(parent)
{
    setObjectName("remoteCursor");
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFixedSize(11 + 2 * kMargin, 18 + 2 * kMargin);
    hide();
}

void RemoteCursorArrow::place(std::optional<PointF> tip)
{
    if (!tip) {
        hide();
        return;
    }
    move(static_cast<int>(std::lround(tip->x)) - kMargin, static_cast<int>(std::lround(tip->y)) - kMargin);
    raise();
    show();
}

void RemoteCursorArrow::paintEvent(QPaintEvent*)
{
    QPolygonF arrow;
    for (const auto& point : remoteCursorArrow) {
        arrow << QPointF(point.x + kMargin, point.y + kMargin);
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(Qt::white);
    painter.drawPolygon(arrow);
}

} // namespace tavoro::ui
