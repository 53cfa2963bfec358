// The UDP relay's per-datagram decision on its own (no sockets): forwarding a 1116-byte datagram
// between two bound peers, with many other sessions in the table.
#include "core/clock.h"
#include "platform/fake/sequence_random.h"
#include "server/relay_table.h"
#include "support/relay_datagrams.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

using namespace tavoro;

// Binds from as a transport does: the bind, then the proof of its challenge.
void join(server::RelayTable& table, const server::Ipv4Endpoint& from, const std::string& token)
{
    if (auto challenge = table.route(from, test::relayBindDatagram(token))) {
        table.route(from, test::relayProofFor(challenge->reply));
    }
}

void RelayTableForward(benchmark::State& state)
{
    core::SteadyClock clock;
    server::RelayTable::Limits limits;
    limits.bytesPerSecond = 1e12;
    platform::fake::SequenceRandom random({0x4D, 0xA2, 0x19});
    server::RelayTable table(clock, random, limits);
    const auto sessions = static_cast<std::uint32_t>(state.range(0));
    for (std::uint32_t i = 0; i < sessions; ++i) {
        const std::string token = "token-" + std::to_string(i);
        table.allocate(token, "1" + std::to_string(100000000 + i).substr(1), "198.18." + std::to_string(i / 256) + "." + std::to_string(i % 256));
        join(table, {0x0A000000 + i, 1000}, token);
        join(table, {0x0B000000 + i, 2000}, token);
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
