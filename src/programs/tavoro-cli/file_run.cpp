#include "programs/tavoro-cli/file_run.h"

#include "files/file_transfer_manager.h"
#include "files/remote_paths.h"
#include "files/size_text.h"
#include "files/transfer_names.h"
#include "programs/tavoro-cli/connect_run.h"
#include "programs/tavoro-cli/transfer_progress.h"

#include <ctime>
#include <ostream>

namespace tavoro::cli {
namespace {

constexpr std::chrono::seconds kReplySeconds{15};
constexpr std::chrono::milliseconds kProgressPeriod{200};

std::string timeText(std::int64_t seconds)
{
    const std::time_t time = seconds;
    std::tm local{};
    localtime_r(&time, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
    return text;
}

// "目录        2026-12-07 09:30  Documents/" or "1.5 MB      2026-12-07 09:30  a.txt".
std::string entryLine(const files::FsEntry& entry)
{
    std::string size = entry.dir ? "目录" : files::sizeText(entry.size);
    const std::size_t width = entry.dir ? 14 : 12; // "目录" takes two columns in three bytes each
    size.resize(std::max(size.size(), width), ' ');
    return size + timeText(entry.mtime) + "  " + entry.name + (entry.dir ? "/" : "");
}

const files::FsEntry* findEntry(const std::vector<files::FsEntry>& entries, const std::string& name)
{
    for (const auto& entry : entries) {
        if (entry.name == name) {
            return &entry;
        }
    }
    return nullptr;
}

std::string lastComponent(const std::string& path)
{
    const auto parent = files::remoteParent(path);
    std::string name = path.substr(std::min(path.size(), parent.size()));
    while (!name.empty() && (name.front() == '/' || name.front() == '\\')) {
        name.erase(name.begin());
    }
    return name;
}

} // namespace

FileRun::FileRun(boost::asio::io_context& context, app::RemoteController& controller, core::MainQueue& mainQueue,
    core::Scheduler& mainScheduler, FileOptions options, std::ostream& out, std::ostream& err,
    bool progressOnTerminal, std::function<void(int)> done)
    : context_(context),
      controller_(controller),
      mainQueue_(mainQueue),
      mainScheduler_(mainScheduler),
      options_(std::move(options)),
      out_(out),
      err_(err),
      progressOnTerminal_(progressOnTerminal),
      done_(std::move(done)),
      replyTimer_(context),
      progressTimer_(context)
{
}

void FileRun::start()
{
    controlSubscription_ = controller_.control.subscribe([this](const std::shared_ptr<control::ControlSession>& s) {
        if (s && !std::exchange(begun_, true)) {
            sessionStarted(*s);
        }
    });
}

void FileRun::sessionStarted(const control::ControlSession& session)
{
    browser_ = files::RemoteBrowser::create(controller_.signaling(), session.peerId(), session.callId(),
        mainQueue_, mainScheduler_);
    controller_.remoteBrowser.set(browser_);
    loadingSubscription_ = browser_->loading.subscribe([this](bool loading) {
        if (!loading && awaitingListing_) {
            replyTimer_.cancel();
            std::exchange(awaitingListing_, nullptr)(browser_->entries.get());
        }
    });
    switch (*options_.action) {
    case FileAction::List: return list();
    case FileAction::Get: return get();
    case FileAction::Put: return put();
    case FileAction::MakeDirectory: return makeDirectory();
    case FileAction::Remove: return removeNext();
    }
}

void FileRun::awaitListing(const std::string& path, std::function<void(const Entries&)> then)
{
    awaitingListing_ = std::move(then);
    browser_->list(path);
    replyTimer_.expires_after(kReplySeconds);
    replyTimer_.async_wait([this](boost::system::error_code error) {
        if (!error && awaitingListing_) {
            awaitingListing_ = nullptr;
            fail("对方没有响应", kNoAnswer);
        }
    });
}

void FileRun::awaitRelisting(std::function<void(const Entries&)> then)
{
    awaitingListing_ = std::move(then);
    replyTimer_.expires_after(kReplySeconds + files::RemoteBrowser::kRelistDelay);
    replyTimer_.async_wait([this](boost::system::error_code error) {
        if (!error && awaitingListing_) {
            awaitingListing_ = nullptr;
            fail("对方没有响应", kNoAnswer);
        }
    });
}

void FileRun::list()
{
    awaitListing(options_.path, [this](const Entries& entries) {
        for (const auto& entry : entries) {
            out_ << entryLine(entry) << "\n";
        }
        out_.flush();
        done_(kSessionEnded);
    });
}

// The host sends the file as a transfer of its own; the first incoming job with the file's name is it.
void FileRun::get()
{
    std::error_code ec;
    const auto dir = std::filesystem::absolute(options_.dir.empty() ? "." : options_.dir, ec);
    if (ec || !std::filesystem::is_directory(dir, ec)) {
        return fail("本地文件夹不存在：" + options_.dir, kBadUsage);
    }
    controller_.allowDownloadsInto(dir);
    const auto name = files::receivedFileName(lastComponent(options_.path));
    watchForJob([name](const files::TransferJob& job) { return !job.isUpload && job.name == name; },
        [this, name, dir](bool complete) {
            std::error_code ec;
            const auto size = std::filesystem::file_size(dir / name, ec);
            if (!complete || ec || static_cast<std::int64_t>(size) != job_->total) {
                return fail("传输中断：" + name, kNotDone);
            }
            out_ << "✓ 已收到 " << (dir / name).string() << "\nSHA-256 " << job_->sha256.get() << std::endl;
            done_(kSessionEnded);
        });
    controller_.signaling().send("fs_get", {{"to", browser_->peerId()}, {"call_id", browser_->callId()},
        {"src_path", options_.path}, {"dest_dir", dir.string()}});
    replyTimer_.expires_after(kReplySeconds);
    replyTimer_.async_wait([this](boost::system::error_code error) {
        if (!error && !job_) {
            fail("对方没有发送文件", kNoAnswer);
        }
    });
}

// Sent, then looked for in the remote folder: only a file of the full size under its own name counts
// (the receiver keeps an incomplete or damaged one as ".part").
void FileRun::put()
{
    const auto name = files::sentFileName(options_.path);
    auto id = std::make_shared<std::int64_t>(0);
    watchForJob([id](const files::TransferJob& job) { return job.isUpload && job.id == *id; },
        [this, name](bool complete) {
            if (!complete) {
                return fail("传输中断：" + name, kNotDone);
            }
            if (options_.dir.empty()) {
                out_ << "✓ 已发送 " << name << "（对方的下载文件夹）" << std::endl;
                return done_(kSessionEnded);
            }
            awaitListing(options_.dir, [this, name](const Entries& entries) {
                const auto* entry = findEntry(entries, name);
                if (!entry || entry->dir || entry->size != job_->total) {
                    return fail("对方没有收到完整的文件：" + name, kNotDone);
                }
                out_ << "✓ 已发送 " << files::joinRemotePath(options_.dir, name) << std::endl;
                done_(kSessionEnded);
            });
        });
    *id = controller_.transfers().send(options_.path, options_.dir, browser_->peerId(), browser_->callId());
    checkJobs(controller_.transfers().jobs().get()); // the job may have been listed before the id was known
}

void FileRun::makeDirectory()
{
    const auto name = lastComponent(options_.path);
    awaitListing(files::remoteParent(options_.path), [this, name](const Entries&) {
        browser_->mkdir(name);
        awaitRelisting([this, name](const Entries& entries) {
            const auto* entry = findEntry(entries, name);
            if (!entry || !entry->dir) {
                return fail("未能创建文件夹：" + options_.path, kNotDone);
            }
            out_ << "✓ 已创建 " << options_.path << std::endl;
            done_(kSessionEnded);
        });
    });
}

// One item after another: its folder listed, the item deleted, the folder listed again to see it gone.
void FileRun::removeNext()
{
    if (nextItem_ == options_.items.size()) {
        return done_(kSessionEnded);
    }
    const auto path = options_.items[nextItem_++];
    const auto name = lastComponent(path);
    awaitListing(files::remoteParent(path), [this, path, name](const Entries& entries) {
        if (name.empty() || !findEntry(entries, name)) {
            return fail("对方没有这一项：" + path, kNotDone);
        }
        browser_->remove({name});
        awaitRelisting([this, path, name](const Entries& after) {
            if (findEntry(after, name)) {
                return fail("未能删除：" + path, kNotDone);
            }
            out_ << "✓ 已删除 " << path << std::endl;
            removeNext();
        });
    });
}

void FileRun::watchForJob(std::function<bool(const files::TransferJob&)> isIt, std::function<void(bool)> then)
{
    jobWanted_ = std::move(isIt);
    jobDone_ = std::move(then);
    jobsSubscription_ = controller_.transfers().jobs().subscribe([this](const files::TransferJobList& jobs) {
        checkJobs(jobs);
    });
}

void FileRun::checkJobs(const files::TransferJobList& jobs)
{
    if (!job_ && jobWanted_ && !jobs.empty() && jobWanted_(*jobs.front())) {
        replyTimer_.cancel();
        followJob(jobs.front());
    }
}

void FileRun::followJob(const std::shared_ptr<files::TransferJob>& job)
{
    job_ = job;
    jobStart_ = std::chrono::steady_clock::now();
    statusSubscription_ = job_->status.subscribe([this](const std::string& status) { jobStatusChanged(status); });
    if (progressOnTerminal_) {
        showProgress(*job_, false);
    }
    jobStatusChanged(job_->status.get());
}

void FileRun::jobStatusChanged(const std::string& status)
{
    if ((status != files::kStatusDone && status != files::kStatusFailed) || !jobDone_) {
        return;
    }
    progressTimer_.cancel();
    showProgress(*job_, true);
    std::exchange(jobDone_, nullptr)(status == files::kStatusDone);
}

void FileRun::showProgress(const files::TransferJob& job, bool last)
{
    const TransferFigures figures{job.sent.get(), job.total,
        std::chrono::duration<double>(std::chrono::steady_clock::now() - jobStart_).count()};
    if (progressOnTerminal_) {
        err_ << "\r\033[K" << progressBar(figures) << (last ? "\n" : "") << std::flush;
    }
    if (last) {
        err_ << job.name << "：" << transferSummary(figures) << std::endl;
        return;
    }
    progressTimer_.expires_after(kProgressPeriod);
    progressTimer_.async_wait([this](boost::system::error_code error) {
        if (!error && job_) {
            showProgress(*job_, false);
        }
    });
}

void FileRun::fail(const std::string& text, int code)
{
    err_ << "tavoro-cli: " << text << std::endl;
    done_(code);
}

} // namespace tavoro::cli
