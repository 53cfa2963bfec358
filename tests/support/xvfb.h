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
    // Splits the screen into two monitors side by side, "left" at the origin and "right" after it
    // (two halves when no sizes are given). The left one takes over the screen's own output, so that
    // exactly two monitors remain.
    bool splitIntoTwoMonitors() const { return splitIntoTwoMonitors(width_ / 2, height_, width_ / 2, height_); }
    bool splitIntoTwoMonitors(int leftWidth, int leftHeight, int rightWidth, int rightHeight) const;

private:
    int width_;
    int height_;
    pid_t pid_ = -1;
    std::string display_;
};

} // namespace tavoro::test
