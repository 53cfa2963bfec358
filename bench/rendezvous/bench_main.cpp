// The rendezvous server's benchmark driver: runs tavoro-rendezvous (and coturn's turnserver for the
// comparison) as separate processes and prints figures.
//   rendezvous_bench connections [N]         N idle TLS WebSocket connections: time, server memory
//   rendezvous_bench routing [PAIRS] [S]     routed messages per second between PAIRS client pairs
//   rendezvous_bench relay [S] [MBIT]        UDP relay throughput with 1116-byte datagrams
//   rendezvous_bench coturn [S]              the same through coturn's TURN relay (ChannelData)
#include "bench_support.h"

#include <arpa/inet.h>
#include <fstream>
#include <iostream>
#include <netinet/in.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tavoro::bench {

RendezvousProcess::RendezvousProcess(const std::vector<std::string>& extraArgs)
{
    std::vector<std::string> args{"--listen", "127.0.0.1:0", "--relay-port", "0", "--stun-port", "0", "--state-dir",
        state.path().string()};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    process = std::make_unique<test::ChildProcess>(TAVORO_RENDEZVOUS_PATH, args);
    wssPort = static_cast<std::uint16_t>(std::stoi(process->readUntilPrefix("listening wss ").value_or("0")));
    relayPort = static_cast<std::uint16_t>(std::stoi(process->readUntilPrefix("listening relay ").value_or("0")));
}

long residentKiB(pid_t pid)
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

double cpuSeconds(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14 || i == 15) {
            ticks += std::stod(field);
        }
    }
    return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

long raiseFileLimit()
{
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
    return static_cast<long>(limit.rlim_cur);
}

std::uint16_t freeUdpPort()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
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
    if (what == "relay") {
        return benchRelay(static_cast<int>(arg(2, 5)), arg(3, 100000));
    }
    if (what == "coturn") {
        return benchCoturn(static_cast<int>(arg(2, 5)));
    }
    std::cerr << "usage: rendezvous_bench connections [N] | routing [PAIRS] [SECONDS] | relay [SECONDS] [MBIT] | "
                 "coturn [SECONDS]\n";
    return 2;
}
