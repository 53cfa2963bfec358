#pragma once

#include "support/child_process.h"
#include "support/temp_dir.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Shared pieces of the rendezvous benchmark driver.
namespace tavoro::bench {

// A tavoro-rendezvous process on 127.0.0.1 with every port chosen by the system.
struct RendezvousProcess {
    explicit RendezvousProcess(const std::vector<std::string>& extraArgs = {});
    test::TempDir state;
    std::unique_ptr<test::ChildProcess> process;
    std::uint16_t wssPort = 0;
    std::uint16_t relayPort = 0;
};

// Resident memory of a process in KiB, from /proc/PID/status.
long residentKiB(pid_t pid);
// CPU seconds (user + system) a process has used so far.
double cpuSeconds(pid_t pid);
// Raises this process's open-file limit to its hard limit; returns the new soft limit.
long raiseFileLimit();
// A UDP port that was free a moment ago.
std::uint16_t freeUdpPort();

int benchConnections(int count);
int benchRouting(int pairs, int seconds);
int benchRelay(int seconds, double rateMbit);
int benchCoturn(int seconds);

} // namespace tavoro::bench
