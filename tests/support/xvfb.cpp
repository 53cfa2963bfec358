#include "support/xvfb.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace tavoro::test {

namespace {

[[noreturn]] void execXvfb(int displayFd, int width, int height)
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    ::fcntl(displayFd, F_SETFD, 0);
    const int devNull = ::open("/dev/null", O_RDWR);
    ::dup2(devNull, STDIN_FILENO);
    ::dup2(devNull, STDOUT_FILENO);
    ::dup2(devNull, STDERR_FILENO);
    const std::string fd = std::to_string(displayFd);
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-noreset", "-nolisten",
        "tcp", static_cast<char*>(nullptr));
    ::_exit(127);
}

// Reads the display number Xvfb writes once it accepts clients.
std::string readDisplayNumber(int fd)
{
    std::string number;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, 200) <= 0) {
            continue;
        }
        char c = 0;
        if (::read(fd, &c, 1) != 1) {
            return {};
        }
        if (c == '\n') {
            return number;
        }
        number.push_back(c);
    }
    return {};
}

} // namespace

Xvfb::Xvfb(int width, int height) : width_(width), height_(height)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
        execXvfb(fds[1], width, height);
    }
    ::close(fds[1]);
    if (pid_ > 0) {
        const auto number = readDisplayNumber(fds[0]);
        if (!number.empty()) {
            display_ = ":" + number;
        }
    }
    ::close(fds[0]);
}

Xvfb::~Xvfb()
{
    if (pid_ <= 0) {
        return;
    }
    ::kill(pid_, SIGTERM);
    for (int i = 0; i < 200; ++i) {
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
}

int Xvfb::run(const std::string& command) const
{
    const std::string line = "DISPLAY=" + display_ + " " + command;
    return std::system(line.c_str());
}

bool Xvfb::splitIntoTwoMonitors(int leftWidth, int leftHeight, int rightWidth, int rightHeight) const
{
    // xrandr wants a physical size too: millimetres at 96 dpi.
    const auto geometry = [](int width, int height, int x) {
        const auto mm = [](int pixels) { return std::to_string((pixels * 254 + 480) / 960); };
        return std::to_string(width) + "/" + mm(width) + "x" + std::to_string(height) + "/" + mm(height) + "+" +
            std::to_string(x) + "+0";
    };
    return run("xrandr --setmonitor left " + geometry(leftWidth, leftHeight, 0) + " screen >/dev/null") == 0 &&
        run("xrandr --setmonitor right " + geometry(rightWidth, rightHeight, leftWidth) + " none >/dev/null") == 0;
}

} // namespace tavoro::test
