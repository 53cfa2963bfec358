#include "support/redis_process.h"

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace tavoro::test {
namespace {

constexpr const char* serverProgram = "/usr/bin/redis-server";
constexpr int startAttempts = 5;

// A port the kernel just handed out for 127.0.0.1, released again; another program may take it before
// redis-server binds it, which the caller handles by trying again.
int pickFreePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
        return 0;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(fd);
    return port;
}

} // namespace

RedisProcess::RedisProcess(std::vector<std::string> extraArgs) : extraArgs_(std::move(extraArgs))
{
    for (int attempt = 0; attempt < startAttempts; ++attempt) {
        if (startOn(pickFreePort())) {
            return;
        }
    }
    throw std::runtime_error("redis-server did not start");
}

RedisProcess::~RedisProcess() { stop(); }

std::string RedisProcess::url(const std::string& password) const
{
    return "redis://" + (password.empty() ? "" : ":" + password + "@") + "127.0.0.1:" + std::to_string(port_);
}

void RedisProcess::stop()
{
    if (process_) {
        process_->stop(SIGTERM);
        process_.reset();
    }
}

bool RedisProcess::restart()
{
    stop();
    return startOn(port_);
}

bool RedisProcess::startOn(int port)
{
    if (port == 0) {
        return false;
    }
    std::vector<std::string> args{"--port", std::to_string(port), "--bind", "127.0.0.1", "--save", "",
        "--appendonly", "no", "--dir", dir_.path().string(), "--daemonize", "no"};
    args.insert(args.end(), extraArgs_.begin(), extraArgs_.end());
    auto process = std::make_unique<ChildProcess>(serverProgram, args);
    if (!process->started()) {
        return false;
    }
    // Reading in order ends at once when redis-server exits (its port taken), instead of at the limit.
    for (;;) {
        const auto line = process->readLine();
        if (!line) {
            return false;
        }
        if (line->find("Ready to accept connections") != std::string::npos) {
            break;
        }
    }
    port_ = port;
    process_ = std::move(process);
    return true;
}

} // namespace tavoro::test
