#pragma once

#include "../process_cpu.h"
#include "support/rendezvous_process.h"

#include <string>
#include <vector>

// Shared pieces of the rendezvous benchmark driver.
namespace tavoro::bench {

// tavoro-rendezvous on 127.0.0.1 with every port chosen by the system and its state in `state`.
inline test::RendezvousProcess startRendezvous(const test::TempDir& state, const std::vector<std::string>& extraArgs = {})
{
    auto args = test::rendezvousArgs(state);
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    return test::startRendezvous(TAVORO_RENDEZVOUS_PATH, args);
}

using test::residentKiB;
// Raises this process's open-file limit to its hard limit; returns the new soft limit.
long raiseFileLimit();

int benchConnections(int count);
int benchRouting(int pairs, int seconds);
int benchFlood(int clients);
int benchRelay(int seconds, double rateMbit);
int benchCoturn(int seconds);
int benchCluster(int seconds);

} // namespace tavoro::bench
