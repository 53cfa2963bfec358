#pragma once

#include "core/main_queue.h"
#include "core/observable.h"
#include "files/transfer_job.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tavoro::files {

using TransferJobList = std::vector<std::shared_ptr<TransferJob>>;

// The list of transfer jobs and the one way to change it or a job: every change is made on the main
// thread (at once when the caller is on it, else posted there). Any thread may call every operation;
// the main queue outlives the board, and posted changes keep the board alive.
class JobBoard : public std::enable_shared_from_this<JobBoard> {
public:
    explicit JobBoard(core::MainQueue& main) : main_(main) {}

    core::Observable<TransferJobList> jobs; // newest first; jobs are never removed

    // Adds the job in front.
    void add(std::shared_ptr<TransferJob> job);
    void setSent(const std::shared_ptr<TransferJob>& job, std::int64_t sent);
    void setStatus(const std::shared_ptr<TransferJob>& job, std::string status);
    // Receiving side: records the stored file's digest, then "完成".
    void complete(const std::shared_ptr<TransferJob>& job, std::string sha256);

private:
    core::MainQueue& main_;
};

} // namespace tavoro::files
