#pragma once

#include "core/observable.h"
#include "files/job_board.h"

#include <QTreeWidget>

#include <memory>
#include <vector>

class QProgressBar;

namespace tavoro::ui {

// The file transfers, newest first: a row per job with its direction and name, its state text
// ("等待中", "传输中", "完成", "中断") and a progress bar, each following the job as it goes.
//
// Threads: GUI thread only (where the jobs' fields change). The job list outlives the widget.
class TransferList final : public QTreeWidget {
public:
    explicit TransferList(core::Observable<files::TransferJobList>& jobs, QWidget* parent = nullptr);

private:
    struct Row {
        std::shared_ptr<files::TransferJob> job; // declared first: the subscriptions go before the job
        QTreeWidgetItem* item = nullptr;          // owned by the tree
        QProgressBar* bar = nullptr;              // owned by the tree
        core::Observable<std::int64_t>::Subscription sent;
        core::Observable<std::string>::Subscription status;
    };

    void showJobs(const files::TransferJobList& jobs);
    static void showProgress(const Row& row);

    std::vector<std::unique_ptr<Row>> rows_;
    core::Observable<files::TransferJobList>::Subscription jobsSubscription_;
};

} // namespace tavoro::ui
