// Peer transport figures: reassembly throughput against memcpy of the same bytes, sendFrame of a
// 1 MB frame on loopback, and the share of frames delivered under random datagram loss.
#include "core/clock.h"
#include "platform/posix/system_random.h"
#include "support/udp_test_socket.h"
#include "transport/chunker.h"
#include "transport/datagram.h"
#include "transport/p2p_transport.h"
#include "transport/reassembler.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <thread>

namespace {

using namespace tavoro;
using Bytes = std::vector<std::uint8_t>;

Bytes frameOf(std::size_t size)
{
    Bytes frame(size);
    for (std::size_t i = 0; i < size; ++i) {
        frame[i] = static_cast<std::uint8_t>(i * 13);
    }
    return frame;
}

// The chunk payloads of one frame, in order.
std::vector<std::span<const std::uint8_t>> chunksOf(const Bytes& frame)
{
    std::vector<std::span<const std::uint8_t>> chunks;
    for (std::size_t at = 0; at < frame.size(); at += transport::kMaxChunkPayload) {
        chunks.push_back(std::span(frame).subspan(at, std::min(transport::kMaxChunkPayload, frame.size() - at)));
    }
    return chunks;
}

void BM_Memcpy100KB(benchmark::State& state)
{
    const Bytes frame = frameOf(100'000);
    Bytes target(frame.size());
    for (auto _ : state) {
        std::memcpy(target.data(), frame.data(), frame.size());
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * frame.size()));
}
BENCHMARK(BM_Memcpy100KB);

// Every chunk once, in order (range 0), or each chunk twice as the sender sends it (range 1).
void BM_Reassemble100KB(benchmark::State& state)
{
    const Bytes frame = frameOf(100'000);
    const auto chunks = chunksOf(frame);
    const auto count = static_cast<std::uint16_t>(chunks.size());
    const int copies = state.range(0) + 1;
    core::SteadyClock clock;
    transport::Reassembler reassembler(clock);
    std::uint32_t frameId = 1;
    for (auto _ : state) {
        for (int copy = 0; copy < copies; ++copy) {
            for (std::uint16_t index = 0; index < count; ++index) {
                auto done = reassembler.reassemble(frameId, index, count, chunks[index]);
                benchmark::DoNotOptimize(done);
            }
        }
        ++frameId;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * frame.size()));
}
BENCHMARK(BM_Reassemble100KB)->Arg(0)->Arg(1);

// One transport connected to a plain socket on loopback (a ping from the socket selects it).
void BM_SendFrame1MB(benchmark::State& state)
{
    const test::UdpTestSocket peer;
    platform::SystemRandom random;
    transport::P2PTransport p2p({{}}, std::make_shared<core::SteadyClock>(), random);
    p2p.start();
    peer.sendTo(p2p.localPort(), transport::makePingOrPong(transport::Kind::ping, 1));
    while (!p2p.linkState().connected) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const Bytes frame = frameOf(1 << 20);
    for (auto _ : state) {
        benchmark::DoNotOptimize(p2p.sendFrame(frame));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * frame.size()));
    p2p.stop();
}
BENCHMARK(BM_SendFrame1MB)->Unit(benchmark::kMillisecond)->UseRealTime();

// Frames of range(1) bytes, sent twice, each datagram lost with probability range(0) per mille.
void BM_DeliveredUnderLoss(benchmark::State& state)
{
    const double loss = static_cast<double>(state.range(0)) / 1000.0;
    const Bytes frame = frameOf(static_cast<std::size_t>(state.range(1)));
    const auto chunks = chunksOf(frame);
    const auto count = static_cast<std::uint16_t>(chunks.size());
    core::SteadyClock clock;
    transport::Reassembler reassembler(clock);
    std::mt19937_64 rng(42);
    std::bernoulli_distribution lost(loss);
    std::uint32_t frameId = 1;
    std::int64_t delivered = 0;
    for (auto _ : state) {
        bool complete = false;
        for (int copy = 0; copy < 2; ++copy) {
            for (std::uint16_t index = 0; index < count; ++index) {
                if (!lost(rng)) {
                    complete = reassembler.reassemble(frameId, index, count, chunks[index]).has_value() || complete;
                }
            }
        }
        delivered += complete ? 1 : 0;
        ++frameId;
        reassembler.sweep(clock.uptimeMs() + 1000); // the lost frames expire
    }
    state.counters["delivered_%"] = 100.0 * static_cast<double>(delivered) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_DeliveredUnderLoss)
    ->ArgNames({"loss_permille", "bytes"})
    ->Args({10, 30'000})
    ->Args({10, 100'000})
    ->Args({10, 1 << 20})
    ->Args({50, 30'000})
    ->Args({50, 100'000})
    ->Args({50, 1 << 20})
    ->Iterations(4000);

} // namespace

BENCHMARK_MAIN();
