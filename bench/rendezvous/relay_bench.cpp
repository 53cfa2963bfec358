// UDP relay throughput with 1116-byte datagrams (the peer transport's largest): one sender blasts
// datagrams at the relay as fast as it can, the other peer counts what arrives. The same through
// coturn's TURN relay for comparison, its client speaking just enough TURN (an unauthenticated
// Allocate, a ChannelBind, then ChannelData) to do the same thing.
#include "bench_support.h"
#include "support/relay_datagrams.h"
#include "support/udp_test_socket.h"
#include "transport/datagram.h"

#include <atomic>
#include <iostream>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <thread>

namespace tavoro::bench {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kDatagram = transport::kMaxDatagram; // 1116

// Offered loads in datagrams per second; 0 is as fast as the sender can.
constexpr long kOfferedRates[] = {20'000, 40'000, 60'000, 80'000, 100'000, 0};

std::string offered(long pps) { return pps == 0 ? std::string("unpaced") : std::to_string(pps) + "/s"; }

// Sends `frame` to the relay for `seconds`, at `pps` datagrams per second (0: as fast as the socket
// takes them) while `receiver` counts arrivals; prints the figures.
void blast(const std::string& name, const test::UdpTestSocket& sender, std::uint16_t relayPort, const std::vector<std::uint8_t>& frame,
    const test::UdpTestSocket& receiver, int seconds, long pps, pid_t relayPid)
{
    std::atomic<bool> running{true};
    std::atomic<long> received{0};
    std::thread counter([&] {
        std::vector<std::uint8_t> buffer(2048);
        while (running) {
            pollfd p{receiver.fd(), POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) {
                continue;
            }
            while (::recv(receiver.fd(), buffer.data(), buffer.size(), MSG_DONTWAIT) > 0) {
                received.fetch_add(1, std::memory_order_relaxed);
            }
        }
    });
    const double cpuBefore = processCpuSeconds(relayPid);
    long sent = 0;
    constexpr int kBurst = 16;
    const auto start = Clock::now();
    const auto end = start + std::chrono::seconds(seconds);
    auto next = start;
    while (Clock::now() < end) {
        for (int i = 0; i < kBurst; ++i) {
            sender.sendTo(relayPort, frame);
        }
        sent += kBurst;
        if (pps > 0) {
            next += std::chrono::nanoseconds(1'000'000'000LL * kBurst / pps);
            std::this_thread::sleep_until(next);
        }
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // what is still in flight
    running = false;
    counter.join();
    const double cpu = processCpuSeconds(relayPid) - cpuBefore;
    const double delivered = static_cast<double>(received) / elapsed;
    std::cout << name << ": sent " << static_cast<long>(static_cast<double>(sent) / elapsed) << " datagrams/s, delivered "
              << static_cast<long>(delivered) << " datagrams/s = " << delivered * kDatagram * 8 / 1e6 << " Mbit/s ("
              << 100.0 * static_cast<double>(sent - received) / static_cast<double>(sent) << " % lost), relay CPU "
              << 100.0 * cpu / elapsed << " % of one core" << std::endl;
}

std::vector<std::uint8_t> chunkDatagram()
{
    std::vector<std::uint8_t> frame(kDatagram, 0x5A);
    transport::writeHeader(frame, transport::Header{static_cast<std::uint8_t>(transport::Kind::chunk), 1, 0, 1,
                                      static_cast<std::uint16_t>(transport::kMaxChunkPayload)});
    return frame;
}

// --- the TURN messages the comparison needs (RFC 5766), unauthenticated ---

constexpr std::uint32_t kCookie = 0x2112A442;

void put16(std::vector<std::uint8_t>& out, std::uint16_t v)
{
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    put16(out, static_cast<std::uint16_t>(v >> 16));
    put16(out, static_cast<std::uint16_t>(v));
}

std::vector<std::uint8_t> stunMessage(std::uint16_t type, const std::vector<std::uint8_t>& attributes, std::uint8_t txnSeed)
{
    std::vector<std::uint8_t> out;
    put16(out, type);
    put16(out, static_cast<std::uint16_t>(attributes.size()));
    put32(out, kCookie);
    for (int i = 0; i < 12; ++i) {
        out.push_back(static_cast<std::uint8_t>(txnSeed + i));
    }
    out.insert(out.end(), attributes.begin(), attributes.end());
    return out;
}

std::uint16_t get16(const std::vector<std::uint8_t>& in, std::size_t at)
{
    return static_cast<std::uint16_t>((in[at] << 8) | in[at + 1]);
}

// The XOR-RELAYED-ADDRESS port of an Allocate success response.
std::optional<std::uint16_t> relayedPort(const std::vector<std::uint8_t>& response)
{
    if (response.size() < 20 || get16(response, 0) != 0x0103) {
        return std::nullopt;
    }
    for (std::size_t at = 20; at + 4 <= response.size();) {
        const std::uint16_t type = get16(response, at);
        const std::uint16_t length = get16(response, at + 2);
        if (type == 0x0016 && length >= 8 && at + 12 <= response.size()) {
            return static_cast<std::uint16_t>(get16(response, at + 6) ^ 0x2112);
        }
        at += 4 + ((length + 3u) & ~3u);
    }
    return std::nullopt;
}

} // namespace

int benchRelay(int seconds, double rateMbit)
{
    std::ostringstream rate;
    rate << rateMbit;
    test::TempDir state;
    const auto server = startRendezvous(state, {"--relay-token", "bench-token", "--relay-rate-mbit", rate.str()});
    const auto relayPort = static_cast<std::uint16_t>(server.relay);
    test::UdpTestSocket a;
    test::UdpTestSocket b;
    if (!test::joinRelay(a, relayPort, "bench-token") || !test::joinRelay(b, relayPort, "bench-token")) {
        std::cerr << "relay did not challenge the binds\n";
        return 1;
    }
    const auto frame = chunkDatagram();
    a.sendTo(relayPort, frame);
    if (!b.receive(std::chrono::seconds(2))) {
        std::cerr << "relay did not forward\n";
        return 1;
    }
    for (long pps : kOfferedRates) {
        blast("tavoro-rendezvous relay (cap " + rate.str() + " Mbit/s), offered " + offered(pps), a, relayPort,
            frame, b, seconds, pps, server.process->pid());
    }
    return 0;
}

int benchCoturn(int seconds)
{
    const std::uint16_t port = test::freeUdpPort();
    test::ChildProcess turn("/usr/bin/turnserver",
        {"-n", "-z", "--allow-loopback-peers", "--listening-ip", "127.0.0.1", "--relay-ip", "127.0.0.1", "--listening-port",
            std::to_string(port), "--min-port", "40000", "--max-port", "40100", "--no-tls", "--no-dtls", "--no-tcp",
            "--no-cli", "--log-file", "stdout", "--simple-log"});
    test::UdpTestSocket client;
    test::UdpTestSocket peer;
    std::vector<std::uint8_t> transport;
    put16(transport, 0x0019); // REQUESTED-TRANSPORT: UDP
    put16(transport, 4);
    put32(transport, 17u << 24);
    std::optional<std::uint16_t> relayed;
    for (int attempt = 0; attempt < 50 && !relayed; ++attempt) {
        const auto allocate = stunMessage(0x0003, transport, 1);
        client.sendTo(port, allocate);
        if (auto response = client.receive(std::chrono::milliseconds(100))) {
            relayed = relayedPort(response->bytes);
        }
    }
    if (!relayed) {
        std::cerr << "coturn: no allocation\n";
        return 1;
    }
    std::vector<std::uint8_t> bindAttributes;
    put16(bindAttributes, 0x000C); // CHANNEL-NUMBER 0x4000
    put16(bindAttributes, 4);
    put32(bindAttributes, 0x40000000);
    put16(bindAttributes, 0x0012); // XOR-PEER-ADDRESS
    put16(bindAttributes, 8);
    put16(bindAttributes, 0x0001);
    put16(bindAttributes, static_cast<std::uint16_t>(peer.port() ^ 0x2112));
    put32(bindAttributes, INADDR_LOOPBACK ^ kCookie);
    const auto channelBind = stunMessage(0x0009, bindAttributes, 2);
    client.sendTo(port, channelBind);
    auto bound = client.receive(std::chrono::seconds(2));
    if (!bound || bound->bytes.size() < 2 || get16(bound->bytes, 0) != 0x0109) {
        std::cerr << "coturn: ChannelBind failed\n";
        return 1;
    }
    // ChannelData: channel number, length, then the same 1116-byte datagram as payload.
    auto frame = chunkDatagram();
    std::vector<std::uint8_t> channelData;
    put16(channelData, 0x4000);
    put16(channelData, static_cast<std::uint16_t>(frame.size()));
    channelData.insert(channelData.end(), frame.begin(), frame.end());
    client.sendTo(port, channelData);
    if (!peer.receive(std::chrono::seconds(2))) {
        std::cerr << "coturn: nothing relayed\n";
        return 1;
    }
    for (long pps : kOfferedRates) {
        blast("coturn TURN relay (ChannelData, 1116-byte payload), offered " + offered(pps), client, port, channelData,
            peer, seconds, pps, turn.pid());
    }
    return 0;
}

} // namespace tavoro::bench
