#include "ui/files/transfer_list.h"

#include "files/size_text.h"
#include "ui/logic/file_window_texts.h"

#include <QHeaderView>
#include <QProgressBar>

namespace tavoro::ui {
namespace {

constexpr int kProgressSteps = 1000;

} // namespace

TransferList::TransferList(core::Observable<files::TransferJobList>& jobs, QWidget* parent) : QTreeWidget(parent)
{
    setHeaderLabels({QString::fromUtf8("文件"), QString::fromUtf8("状态"), QString::fromUtf8("进度")});
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::NoSelection);
    header()->setSectionResizeMode(0, QHeaderView::Stretch);
    header()->setStretchLastSection(false);
    jobsSubscription_ = jobs.subscribe([this](const files::TransferJobList& list) { showJobs(list); });
    showJobs(jobs.get());
}

// Jobs are only ever added, in front; the rows are made anew each time.
void TransferList::showJobs(const files::TransferJobList& jobs)
{
    rows_.clear();
    clear();
    for (const auto& job : jobs) {
        auto row = std::make_unique<Row>();
        row->job = job;
        row->item = new QTreeWidgetItem(this, {QString::fromStdString(text::transferName(job->name, job->isUpload)),
                                                  QString::fromStdString(job->status.get())});
        row->bar = new QProgressBar;
        row->bar->setRange(0, kProgressSteps);
        setItemWidget(row->item, 2, row->bar);
        auto* shown = row.get();
        row->sent = job->sent.subscribe([shown](std::int64_t) { showProgress(*shown); });
        row->status = job->status.subscribe([shown](const std::string& status) {
            shown->item->setText(1, QString::fromStdString(status));
            showProgress(*shown);
        });
        showProgress(*row);
        rows_.push_back(std::move(row));
    }
}

void TransferList::showProgress(const Row& row)
{
    const double fraction = files::transferFraction(row.job->sent.get(), row.job->total, row.job->status.get());
    row.bar->setValue(static_cast<int>(fraction * kProgressSteps));
}

} // namespace tavoro::ui
