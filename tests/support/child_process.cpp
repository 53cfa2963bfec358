#include "support/child_process.h"

#include "support/wait.h"

#include <cerrno>
#include <fcntl.h>
#include <csignal>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace tavoro::test {

struct ChildProcess::State {
    pid_t pid = -1;
    int exitStatus = -1;
    std::thread reader;
    mutable std::mutex mutex; // guards the line lists
    std::vector<std::string> out;
    std::vector<std::string> err;
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
}

} // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
    const std::vector<std::string>& env)
    : state_(std::make_shared<State>())
{
    int outPipe[2];
    int errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    // Sockets the test holds (a listening server among them) must not leak into the program.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);

    std::vector<std::string> argStrings{program};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argStrings) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> envStrings;
    for (char** e = environ; *e != nullptr; ++e) {
        envStrings.emplace_back(*e);
    }
    envStrings.insert(envStrings.end(), env.begin(), env.end());
    std::vector<char*> envp;
    for (auto& e : envStrings) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);

    int rc = ::posix_spawn(&state_->pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    if (rc != 0) {
        ::close(outPipe[0]);
        ::close(errPipe[0]);
        throw std::runtime_error("could not start " + program);
    }
    state_->reader = std::thread([state = state_.get(), out = outPipe[0], err = errPipe[0]] { readLines(*state, out, err); });
}

ChildProcess::~ChildProcess()
{
    if (wait(std::chrono::milliseconds(0)) == -1) {
        signal(SIGKILL);
        wait(std::chrono::seconds(10));
    }
    if (state_->reader.joinable()) {
        state_->reader.join();
    }
}

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

void ChildProcess::signal(int number)
{
    if (state_->pid > 0 && state_->exitStatus == -1) {
        ::kill(state_->pid, number);
    }
}

int ChildProcess::wait(std::chrono::milliseconds limit)
{
    if (state_->exitStatus != -1) {
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
    if (state_->exitStatus != -1 && state_->reader.joinable()) {
        state_->reader.join(); // everything the program wrote has been read
    }
    return state_->exitStatus;
}

} // namespace tavoro::test
