#pragma once

#include "support/child_process.h"
#include "support/temp_dir.h"

#include <memory>
#include <string>
#include <vector>

namespace tavoro::test {

// A private redis-server for one test: on a free loopback port, without persistence, in its own
// temporary folder. It can be stopped and started again on the same port; destruction stops it.
// Used from the test's thread.
class RedisProcess {
public:
    // extraArgs go to redis-server as they are, e.g. {"--requirepass", "secret"}.
    explicit RedisProcess(std::vector<std::string> extraArgs = {});
    ~RedisProcess();
    RedisProcess(const RedisProcess&) = delete;
    RedisProcess& operator=(const RedisProcess&) = delete;

    bool running() const { return process_ != nullptr; }
    int port() const { return port_; }
    pid_t pid() const { return process_ ? process_->pid() : -1; }
    std::string url(const std::string& password = {}) const;

    void stop();
    // Starts again on the same port; false when the server did not come up.
    bool restart();

private:
    bool startOn(int port);

    TempDir dir_;
    std::vector<std::string> extraArgs_;
    int port_ = 0;
    std::unique_ptr<ChildProcess> process_;
};

} // namespace tavoro::test
