#include "ui/files/file_window_prompts.h"

#include "ui/logic/file_window_texts.h"

#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

namespace tavoro::ui {
namespace {

QString qs(const std::string& text) { return QString::fromStdString(text); }

bool confirmWithDialog(QWidget* parent, const QString& question)
{
    QMessageBox box(QMessageBox::Warning, qs(text::kDeleteTitle), question, QMessageBox::NoButton, parent);
    auto* remove = box.addButton(qs(text::kDelete), QMessageBox::DestructiveRole);
    auto* cancel = box.addButton(qs(text::kCancel), QMessageBox::RejectRole);
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    return box.clickedButton() == remove;
}

std::optional<QString> askWithDialog(QWidget* parent)
{
    QInputDialog dialog(parent);
    dialog.setWindowTitle(qs(text::kNewFolderTitle));
    dialog.setLabelText(qs(text::kNewFolderPrompt));
    dialog.setOkButtonText(qs(text::kCreate));
    dialog.setCancelButtonText(qs(text::kCancel));
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return dialog.textValue();
}

} // namespace

FileWindowPrompts dialogPrompts() { return {confirmWithDialog, askWithDialog}; }

} // namespace tavoro::ui
