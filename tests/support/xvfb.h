#pragma once

#include <string>
#include <sys/types.h>

namespace tavoro::test {

// A private Xvfb server for one test: it picks a free display number itself (-displayfd), does not
// reset when its last client leaves (-noreset), listens on no TCP port, and is stopped at
// destruction (or when the test process dies).
class Xvfb {
public:
    Xvfb(int width, int height);
    ~Xvfb();
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;

    bool running() const { return !display_.empty(); }
    // ":N"
    const std::string& display() const { return display_; }
    // Runs a shell command with DISPLAY set to this server; returns its exit status.
    int run(const std::string& command) const;

private:
    pid_t pid_ = -1;
    std::string display_;
};

} // namespace tavoro::test
