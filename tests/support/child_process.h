#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tavoro::test {

// A program started by a test, its stdout readable line by line (stderr goes to the test's stderr).
// Destruction ends it: SIGTERM, then SIGKILL if it has not exited within five seconds.
class ChildProcess {
public:
    ChildProcess(const std::string& program, const std::vector<std::string>& args);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    // The next line of stdout without its newline; nothing on end of output or after the limit.
    std::optional<std::string> readLine(std::chrono::milliseconds limit = std::chrono::seconds(10));
    // Reads lines until one starts with prefix; returns the rest of that line.
    std::optional<std::string> readUntilPrefix(const std::string& prefix,
        std::chrono::milliseconds limit = std::chrono::seconds(10));

    // Sends a signal and waits for the exit; the exit code, or 128 + signal when it was killed, or
    // nothing when it did not exit in time.
    std::optional<int> stop(int signal, std::chrono::milliseconds limit = std::chrono::seconds(10));
    std::optional<int> waitExit(std::chrono::milliseconds limit);

private:
    pid_t pid_ = -1;
    int stdout_ = -1;
    std::string pending_;
    std::optional<int> exitStatus_;
};

} // namespace tavoro::test
