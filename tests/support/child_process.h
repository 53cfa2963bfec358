#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace tavoro::test {

// A program started by a test, with its stdout and stderr collected line by line on a reader thread.
// The destructor kills the program if it still runs and waits for it.
class ChildProcess {
public:
    // env holds extra "NAME=value" entries on top of the test's own environment.
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
        const std::vector<std::string>& env = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    std::vector<std::string> stdoutLines() const;
    std::vector<std::string> stderrLines() const;
    // Waits until some stdout line contains the fragment; returns that line, or "" after the limit.
    std::string waitForStdout(const std::string& fragment, std::chrono::milliseconds limit = std::chrono::seconds(10)) const;
    std::size_t countStdout(const std::string& fragment) const;

    void signal(int number);
    // The exit status (or 128 + signal); -1 when it has not ended within the limit. Once it has ended,
    // all of its output is in the line lists.
    int wait(std::chrono::milliseconds limit = std::chrono::seconds(10));

    struct State;

private:
    std::shared_ptr<State> state_;
};

} // namespace tavoro::test
