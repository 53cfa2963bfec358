// The rendezvous server's benchmark driver: runs tavoro-rendezvous (and coturn's turnserver for the
// comparison) as separate processes and prints figures.
//   rendezvous_bench connections [N]         N idle TLS WebSocket connections: time, server memory
//   rendezvous_bench routing [PAIRS] [S]     routed messages per second between PAIRS client pairs
//   rendezvous_bench flood [N]               N clients that never read their answers: server memory
//   rendezvous_bench relay [S] [MBIT]        UDP relay throughput with 1116-byte datagrams
//   rendezvous_bench coturn [S]              the same through coturn's TURN relay (ChannelData)
//   rendezvous_bench cluster [S]             two nodes on one redis-server: latency a crossing adds,
//                                            messages/s across nodes
#include "bench_support.h"

#include <iostream>
#include <sys/resource.h>
#include <unistd.h>

namespace tavoro::bench {

long raiseFileLimit()
{
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
    return static_cast<long>(limit.rlim_cur);
}

} // namespace tavoro::bench

int main(int argc, char** argv)
{
    using namespace tavoro::bench;
    const std::string what = argc > 1 ? argv[1] : "";
    auto arg = [&](int index, double fallback) { return argc > index ? std::stod(argv[index]) : fallback; };
    if (what == "connections") {
        return benchConnections(static_cast<int>(arg(2, 10000)));
    }
    if (what == "routing") {
        return benchRouting(static_cast<int>(arg(2, 100)), static_cast<int>(arg(3, 5)));
    }
    if (what == "flood") {
        return benchFlood(static_cast<int>(arg(2, 20)));
    }
    if (what == "relay") {
        return benchRelay(static_cast<int>(arg(2, 5)), arg(3, 100000));
    }
    if (what == "coturn") {
        return benchCoturn(static_cast<int>(arg(2, 5)));
    }
    if (what == "cluster") {
        return benchCluster(static_cast<int>(arg(2, 4)));
    }
    std::cerr << "usage: rendezvous_bench connections [N] | routing [PAIRS] [SECONDS] | flood [N] | relay [SECONDS] [MBIT] | "
                 "coturn [SECONDS] | cluster [SECONDS]\n";
    return 2;
}
