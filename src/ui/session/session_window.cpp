#include "ui/session/session_window.h"

#include "ui/session/session_view.h"

#include <QCloseEvent>
#include <QVBoxLayout>

namespace tavoro::ui {

SessionWindow::SessionWindow(SessionView* view, std::function<void()> closedByUser)
    : view_(view), closedByUser_(std::move(closedByUser))
{
    setObjectName("sessionWindow");
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(view_);
}

void SessionWindow::closeQuietly()
{
    closedByUser_ = nullptr;
    close();
}

void SessionWindow::closeEvent(QCloseEvent* event)
{
    QWidget::closeEvent(event);
    if (auto closed = std::exchange(closedByUser_, nullptr)) {
        closed();
    }
}

} // namespace tavoro::ui
