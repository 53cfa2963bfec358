#include "ui/files/entry_list.h"

#include "files/size_text.h"
#include "ui/logic/file_window_texts.h"

#include <QHeaderView>

#include <algorithm>

namespace tavoro::ui {
namespace {

constexpr int kIndexRole = Qt::UserRole;

} // namespace

EntryList::EntryList(std::function<void(const files::FsEntry&)> activated, QWidget* parent) : QTreeWidget(parent)
{
    setHeaderLabels({QString::fromUtf8("名称"), QString::fromUtf8("大小")});
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    header()->setSectionResizeMode(0, QHeaderView::Stretch);
    header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    header()->setStretchLastSection(false);
    connect(this, &QTreeWidget::itemActivated, this, [this, activated = std::move(activated)](QTreeWidgetItem* item) {
        const auto index = item->data(0, kIndexRole).toULongLong();
        if (index < entries_.size()) {
            activated(entries_[index]);
        }
    });
}

void EntryList::setEntries(std::vector<files::FsEntry> entries)
{
    entries_ = std::move(entries);
    clear();
    QList<QTreeWidgetItem*> rows;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        const auto& entry = entries_[i];
        auto* row = new QTreeWidgetItem({QString::fromStdString(text::entryName(entry.name, entry.dir)),
            entry.dir ? QString() : QString::fromStdString(files::sizeText(entry.size))});
        row->setData(0, kIndexRole, QVariant::fromValue<qulonglong>(i));
        row->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        rows.append(row);
    }
    addTopLevelItems(rows); // the tree owns the rows from here
}

std::vector<files::FsEntry> EntryList::selectedEntries() const
{
    std::vector<std::size_t> indices;
    for (const auto* item : selectedItems()) {
        indices.push_back(item->data(0, kIndexRole).toULongLong());
    }
    std::sort(indices.begin(), indices.end());
    std::vector<files::FsEntry> selected;
    for (auto index : indices) {
        if (index < entries_.size()) {
            selected.push_back(entries_[index]);
        }
    }
    return selected;
}

} // namespace tavoro::ui
