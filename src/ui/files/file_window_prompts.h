#pragma once

#include <QString>

#include <functional>
#include <optional>

class QWidget;

namespace tavoro::ui {

// The questions the file window asks before it acts. Replaceable so that the window can be driven
// without modal dialogs. GUI thread only.
struct FileWindowPrompts {
    // True only when the user confirms the deletion described by `question`.
    std::function<bool(QWidget* parent, const QString& question)> confirmDelete;
    // The name of a new folder, or none when the user cancels.
    std::function<std::optional<QString>(QWidget* parent)> askFolderName;
};

// Modal dialogs: the deletion is confirmed with "删除", cancelling is the default; the folder name is
// asked with "创建" and "取消".
FileWindowPrompts dialogPrompts();

} // namespace tavoro::ui
