// The UDP relay's per-datagram decision on its own (no sockets): forwarding a 1116-byte datagram
// between two bound peers, with many other sessions in the table.
#include "core/clock.h"
#include "server/relay_table.h"
#include "transport/datagram.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

using namespace tavoro;

std::vector<std::uint8_t> bindDatagram(const std::string& token)
{
    std::vector<std::uint8_t> out(transport::kHeaderSize + transport::kMaxRelayTokenBytes);
    out.resize(transport::writeRelayBind(out, std::span(reinterpret_cast<const std::uint8_t*>(token.data()), token.size())));
    return out;
}

void RelayTableForward(benchmark::State& state)
{
    core::SteadyClock clock;
    server::RelayTable::Limits limits;
    limits.bytesPerSecond = 1e12;
    server::RelayTable table(clock, limits);
    const auto sessions = static_cast<std::uint32_t>(state.range(0));
    for (std::uint32_t i = 0; i < sessions; ++i) {
        const std::string token = "token-" + std::to_string(i);
        table.allocate(token, "1" + std::to_string(100000000 + i).substr(1));
        table.route({0x0A000000 + i, 1000}, bindDatagram(token));
        table.route({0x0B000000 + i, 2000}, bindDatagram(token));
    }
    const std::vector<std::uint8_t> datagram(transport::kMaxDatagram, 0x5A);
    const server::Ipv4Endpoint from{0x0A000000, 1000};
    for (auto _ : state) {
        benchmark::DoNotOptimize(table.route(from, datagram));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * datagram.size()));
}
BENCHMARK(RelayTableForward)->Arg(1)->Arg(10000);

} // namespace

BENCHMARK_MAIN();
