#pragma once

#include "support/child_process.h"
#include "support/temp_dir.h"

#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace tavoro::test {

// tavoro-rendezvous as users run it, with the ports and fingerprint from its start-up lines.
struct RendezvousProcess {
    std::unique_ptr<ChildProcess> process;
    int wss = 0;
    int relay = 0;
    int stun = 0;
    std::string fingerprint;
};

inline std::vector<std::string> rendezvousArgs(const TempDir& state, const std::string& listen = "127.0.0.1:0")
{
    return {"--listen", listen, "--relay-port", "0", "--stun-port", "0", "--state-dir", state.path().string()};
}

// Starts the program (the tavoro-rendezvous binary at `program`, with extra "NAME=value" environment
// entries) and reads its start-up lines, in the order scripts read them.
inline RendezvousProcess startRendezvous(const std::string& program, const std::vector<std::string>& args,
    const std::vector<std::string>& env = {})
{
    RendezvousProcess server;
    server.process = std::make_unique<ChildProcess>(program, args, env);
    const auto portAfter = [&](const std::string& prefix) {
        const auto text = server.process->readUntilPrefix(prefix);
        return text ? std::stoi(*text) : 0;
    };
    server.wss = portAfter("listening wss ");
    server.relay = portAfter("listening relay ");
    server.stun = portAfter("listening stun ");
    server.fingerprint = server.process->readUntilPrefix("cert sha256 ").value_or("");
    return server;
}

// Resident memory of a process in KiB, from /proc/PID/status; -1 when it cannot be read.
inline long residentKiB(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("VmRSS:")) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

} // namespace tavoro::test
