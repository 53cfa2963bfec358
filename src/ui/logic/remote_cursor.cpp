#include "ui/logic/remote_cursor.h"

namespace tavoro::ui {

bool showsRemoteCursor(bool controlKnown, bool hasControl) { return controlKnown && !hasControl; }

std::optional<PointF> remoteCursorTip(const std::optional<control::RemoteCursor>& cursor, bool show,
    const RectF& picture)
{
    if (!cursor || !show || cursor->hidden || !picture.hasArea()) {
        return std::nullopt;
    }
    return PointF{picture.x + picture.width * cursor->x, picture.y + picture.height * cursor->y};
}

} // namespace tavoro::ui
