#pragma once

#include "app/remote_controller.h"
#include "files/remote_browser.h"
#include "files/job_board.h"
#include "files/transfer_job.h"
#include "programs/tavoro-cli/file_options.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace tavoro::cli {

// The file part of "tavoro-cli ls / get / put / mkdir / rm", beside the ConnectRun that holds the
// file-mode session: once the host has accepted, carries out the command through the remote pane's
// model and the transfer manager, checks the outcome by listing (or, for get, on the local disk),
// prints it and hands the exit code to `done`. Main thread only; start() before the controller starts.
class FileRun {
public:
    FileRun(boost::asio::io_context& context, app::RemoteController& controller, core::MainQueue& mainQueue,
        core::Scheduler& mainScheduler, FileOptions options, std::ostream& out, std::ostream& err,
        bool progressOnTerminal, std::function<void(int)> done);

    void start();

private:
    using Entries = std::vector<files::FsEntry>;

    void sessionStarted(const control::ControlSession& session);
    void list();
    void get();
    void put();
    void makeDirectory();
    void removeNext();
    // Lists a remote folder and calls back with what the reply held.
    void awaitListing(const std::string& path, std::function<void(const Entries&)> then);
    // Lists again after the browser's own pause (following a change it asked for).
    void awaitRelisting(std::function<void(const Entries&)> then);
    // Waits for the transfer job that isIt picks, follows it, and calls back with whether it completed.
    void watchForJob(std::function<bool(const files::TransferJob&)> isIt, std::function<void(bool)> then);
    void checkJobs(const files::TransferJobList& jobs);
    void followJob(const std::shared_ptr<files::TransferJob>& job);
    void jobStatusChanged(const std::string& status);
    void showProgress(const files::TransferJob& job, bool last);
    void fail(const std::string& text, int code);

    boost::asio::io_context& context_;
    app::RemoteController& controller_;
    core::MainQueue& mainQueue_;
    core::Scheduler& mainScheduler_;
    FileOptions options_;
    std::ostream& out_;
    std::ostream& err_;
    const bool progressOnTerminal_;
    std::function<void(int)> done_;
    bool begun_ = false;
    std::shared_ptr<files::RemoteBrowser> browser_;
    std::function<void(const Entries&)> awaitingListing_;
    std::function<bool(const files::TransferJob&)> jobWanted_;
    std::shared_ptr<files::TransferJob> job_;
    std::function<void(bool)> jobDone_;
    std::chrono::steady_clock::time_point jobStart_;
    std::size_t nextItem_ = 0;
    boost::asio::steady_timer replyTimer_;
    boost::asio::steady_timer progressTimer_;
    core::Observable<std::shared_ptr<control::ControlSession>>::Subscription controlSubscription_;
    core::Observable<bool>::Subscription loadingSubscription_;
    core::Observable<files::TransferJobList>::Subscription jobsSubscription_;
    core::Observable<std::string>::Subscription statusSubscription_;
};

} // namespace tavoro::cli
