#include "files/job_board.h"

namespace tavoro::files {

void JobBoard::add(std::shared_ptr<TransferJob> job)
{
    main_.runOrPost([self = shared_from_this(), job = std::move(job)] {
        auto list = self->jobs.get();
        list.insert(list.begin(), job);
        self->jobs.set(std::move(list));
    });
}

void JobBoard::setSent(const std::shared_ptr<TransferJob>& job, std::int64_t sent)
{
    main_.runOrPost([job, sent] { job->sent.set(sent); });
}

void JobBoard::setStatus(const std::shared_ptr<TransferJob>& job, std::string status)
{
    main_.runOrPost([job, status = std::move(status)] { job->status.set(status); });
}

void JobBoard::complete(const std::shared_ptr<TransferJob>& job, std::string sha256)
{
    main_.runOrPost([job, sha256 = std::move(sha256)] {
        job->sha256.set(sha256);
        job->status.set(kStatusDone);
    });
}

} // namespace tavoro::files
