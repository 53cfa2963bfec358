#include "ui/chat/composer_edit.h"

#include <QKeyEvent>

namespace tavoro::ui {

ComposerEdit::ComposerEdit(std::function<void()> submit, QWidget* parent)
    : QPlainTextEdit(parent), submit_(std::move(submit))
{
    setTabChangesFocus(true);
}

void ComposerEdit::keyPressEvent(QKeyEvent* event)
{
    const bool isReturn = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (isReturn) {
        event->accept();
        if (event->modifiers() & Qt::ShiftModifier) {
            insertPlainText("\n"); // a new paragraph, not the line separator Shift+Return would insert
        } else {
            submit_();
        }
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

} // namespace tavoro::ui
