#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tavoro::test {

// A program started by a test. A reader thread collects its stdout and stderr line by line; the test
// either looks at everything collected so far or reads stdout in order. File descriptors of the test
// (listening sockets among them) are not inherited. Destruction ends the program: SIGTERM, then
// SIGKILL if it has not exited within five seconds.
class ChildProcess {
public:
    // env holds extra "NAME=value" entries on top of the test's own environment.
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
        const std::vector<std::string>& env = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const;
    pid_t pid() const;

    // Everything collected so far.
    std::vector<std::string> stdoutLines() const;
    std::vector<std::string> stderrLines() const;
    // How many lines of stderr so far contain the fragment.
    std::size_t stderrCount(const std::string& fragment) const;
    std::size_t countStdout(const std::string& fragment) const;
    // Waits until some stdout line contains the fragment; returns that line, or "" after the limit.
    std::string waitForStdout(const std::string& fragment, std::chrono::milliseconds limit = std::chrono::seconds(10)) const;

    // Reading stdout in order: the next line not read yet; nothing at end of output or after the limit.
    std::optional<std::string> readLine(std::chrono::milliseconds limit = std::chrono::seconds(10));
    // Reads lines until one starts with prefix; returns the rest of that line.
    std::optional<std::string> readUntilPrefix(const std::string& prefix,
        std::chrono::milliseconds limit = std::chrono::seconds(10));

    // The exit code, or 128 + signal when it was killed; nothing when it has not ended within the limit.
    // Once it has ended, all of its output has been collected.
    std::optional<int> waitExit(std::chrono::milliseconds limit = std::chrono::seconds(10));
    // Sends the signal and waits for the exit.
    std::optional<int> stop(int signal, std::chrono::milliseconds limit = std::chrono::seconds(10));

    struct State;

private:
    std::shared_ptr<State> state_;
    std::size_t readCursor_ = 0; // stdout lines already returned by readLine
};

} // namespace tavoro::test
