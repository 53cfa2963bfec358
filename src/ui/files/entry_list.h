#pragma once

#include "files/fs_entry.h"

#include <QTreeWidget>

#include <functional>
#include <vector>

namespace tavoro::ui {

// One pane's listing: a row per item in the model's order (folders first, as both models give them),
// with a folder symbol for folders and the size for files. Several rows may be selected; activating a
// row (double click or Return) reports its item.
//
// Threads: GUI thread only.
class EntryList final : public QTreeWidget {
public:
    explicit EntryList(std::function<void(const files::FsEntry&)> activated, QWidget* parent = nullptr);

    void setEntries(std::vector<files::FsEntry> entries);
    // The selected items, top to bottom.
    std::vector<files::FsEntry> selectedEntries() const;

private:
    std::vector<files::FsEntry> entries_;
};

} // namespace tavoro::ui
