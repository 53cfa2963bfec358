#include "support/child_process.h"

#include <algorithm>

#include "support/wait.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace tavoro::test {

struct ChildProcess::State {
    pid_t pid = -1;
    std::optional<int> exitStatus;
    std::thread reader;
    mutable std::mutex mutex; // guards out, err and outputClosed
    std::vector<std::string> out;
    std::vector<std::string> err;
    bool outputClosed = false;
};

namespace {

// Reads both pipes until both are closed, splitting at newlines.
void readLines(ChildProcess::State& state, int outFd, int errFd)
{
    pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    std::string partial[2];
    int open = 2;
    while (open > 0) {
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) {
                continue;
            }
            char buffer[4096];
            ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
                continue;
            }
            partial[i].append(buffer, static_cast<std::size_t>(n));
            for (auto newline = partial[i].find('\n'); newline != std::string::npos; newline = partial[i].find('\n')) {
                std::lock_guard lock(state.mutex);
                (i == 0 ? state.out : state.err).push_back(partial[i].substr(0, newline));
                partial[i].erase(0, newline + 1);
            }
        }
    }
    std::lock_guard lock(state.mutex);
    state.outputClosed = true;
}

std::vector<char*> pointersTo(std::vector<std::string>& strings)
{
    std::vector<char*> pointers;
    for (auto& s : strings) {
        pointers.push_back(s.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

} // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
    const std::vector<std::string>& env)
    : state_(std::make_shared<State>())
{
    int outPipe[2];
    int errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0) {
        return;
    }
    if (::pipe2(errPipe, O_CLOEXEC) != 0) {
        ::close(outPipe[0]);
        ::close(outPipe[1]);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
    // Nothing is typed to a program under test: a question it asks is answered by the end of input.
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    // Sockets the test holds (a listening server among them) must not leak into the program.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);

    std::vector<std::string> argStrings{program};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    // The given variables replace inherited ones of the same name (getenv finds the first).
    std::vector<std::string> envStrings(env.begin(), env.end());
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string_view inherited(*e);
        const auto name = inherited.substr(0, inherited.find('=') + 1);
        if (std::none_of(env.begin(), env.end(), [&](const std::string& v) { return v.starts_with(name); })) {
            envStrings.emplace_back(inherited);
        }
    }
    auto argv = pointersTo(argStrings);
    auto envp = pointersTo(envStrings);

    int rc = ::posix_spawn(&state_->pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    if (rc != 0) {
        state_->pid = -1;
        ::close(outPipe[0]);
        ::close(errPipe[0]);
        return;
    }
    state_->reader = std::thread([state = state_.get(), out = outPipe[0], err = errPipe[0]] { readLines(*state, out, err); });
}

ChildProcess::~ChildProcess()
{
    if (started() && !waitExit(std::chrono::milliseconds(0)) && !stop(SIGTERM, std::chrono::seconds(5))) {
        stop(SIGKILL);
    }
    if (state_->reader.joinable()) {
        state_->reader.join();
    }
}

bool ChildProcess::started() const { return state_->pid > 0; }
pid_t ChildProcess::pid() const { return state_->pid; }

std::vector<std::string> ChildProcess::stdoutLines() const
{
    std::lock_guard lock(state_->mutex);
    return state_->out;
}

std::vector<std::string> ChildProcess::stderrLines() const
{
    std::lock_guard lock(state_->mutex);
    return state_->err;
}

std::size_t ChildProcess::countStdout(const std::string& fragment) const
{
    std::size_t count = 0;
    for (const auto& line : stdoutLines()) {
        count += line.find(fragment) != std::string::npos ? 1 : 0;
    }
    return count;
}

std::string ChildProcess::waitForStdout(const std::string& fragment, std::chrono::milliseconds limit) const
{
    std::string found;
    waitFor([&] {
        for (const auto& line : stdoutLines()) {
            if (line.find(fragment) != std::string::npos) {
                found = line;
                return true;
            }
        }
        return false;
    }, limit);
    return found;
}

std::optional<std::string> ChildProcess::readLine(std::chrono::milliseconds limit)
{
    std::optional<std::string> line;
    waitFor([&] {
        std::lock_guard lock(state_->mutex);
        if (readCursor_ < state_->out.size()) {
            line = state_->out[readCursor_++];
            return true;
        }
        return state_->outputClosed;
    }, limit);
    return line;
}

std::optional<std::string> ChildProcess::readUntilPrefix(const std::string& prefix, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        auto line = readLine(std::max(left, std::chrono::milliseconds(0)));
        if (!line) {
            return std::nullopt;
        }
        if (line->starts_with(prefix)) {
            return line->substr(prefix.size());
        }
    }
}

std::optional<int> ChildProcess::waitExit(std::chrono::milliseconds limit)
{
    if (!started() || state_->exitStatus) {
        return state_->exitStatus;
    }
    waitFor([&] {
        int status = 0;
        if (::waitpid(state_->pid, &status, WNOHANG) == state_->pid) {
            state_->exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return true;
        }
        return false;
    }, limit);
    if (state_->exitStatus && state_->reader.joinable()) {
        state_->reader.join();
    }
    return state_->exitStatus;
}

std::optional<int> ChildProcess::stop(int number, std::chrono::milliseconds limit)
{
    if (started() && !state_->exitStatus) {
        ::kill(state_->pid, number);
    }
    return waitExit(limit);
}

std::size_t ChildProcess::stderrCount(const std::string& fragment) const
{
    const auto lines = stderrLines();
    return static_cast<std::size_t>(std::count_if(
        lines.begin(), lines.end(), [&](const std::string& line) { return line.find(fragment) != std::string::npos; }));
}

} // namespace tavoro::test
