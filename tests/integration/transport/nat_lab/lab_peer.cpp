// lab_peer: one P2PTransport in one network namespace of the NAT lab. It exchanges "ice" payloads
// with its peer through two files (the namespaces share the file system), optionally uses the UDP
// relay, sends or expects numbered frames once connected, and prints one result line at the end:
//   lab result connected=0|1 relayed=0|1 frames=N
// The link state in it is the one when this peer's frames were all sent or received, since a path
// goes down 3 s after the peer has left; without that moment it is the state at the end.
#include "core/log.h"
#include "platform/posix/system_random.h"
#include "transport/p2p_transport.h"

#include <CLI/CLI.hpp>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

namespace {

using namespace tavoro;
using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kFrameBytes = 30'000;

// The first byte is the frame's number (mod 256); every other byte follows from it.
Bytes numberedFrame(std::uint8_t number)
{
    Bytes frame(kFrameBytes);
    for (std::size_t i = 0; i < frame.size(); ++i) {
        frame[i] = static_cast<std::uint8_t>(number + i * 7 + i / 1100);
    }
    return frame;
}

bool isNumberedFrame(const Bytes& frame)
{
    return frame.size() == kFrameBytes && frame == numberedFrame(frame[0]);
}

void writeAtomically(const std::filesystem::path& path, const std::string& text)
{
    const auto temporary = path.string() + ".tmp";
    std::ofstream(temporary) << text;
    std::filesystem::rename(temporary, path);
}

std::string readAll(const std::filesystem::path& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Options {
    std::vector<std::string> stun;
    std::string relay;
    std::string token;
    std::string signalOut;
    std::string signalIn;
    int sendFrames = 0;
    int expectFrames = 0;
    int runMs = 5000;
};

} // namespace

int main(int argc, char** argv)
{
    Options options;
    CLI::App cli("NAT lab peer: one transport, candidates exchanged through files", "lab_peer");
    cli.add_option("--stun", options.stun, "STUN server HOST:PORT (repeatable)");
    cli.add_option("--relay", options.relay, "UDP relay HOST:PORT");
    cli.add_option("--token", options.token, "relay token");
    cli.add_option("--signal-out", options.signalOut, "file to write this side's advertisement to")->required();
    cli.add_option("--signal-in", options.signalIn, "file to read the peer's advertisement from")->required();
    cli.add_option("--send-frames", options.sendFrames, "frames to send once connected");
    cli.add_option("--expect-frames", options.expectFrames, "stop early once this many frames arrived");
    cli.add_option("--run-ms", options.runMs, "how long to run");
    CLI11_PARSE(cli, argc, argv);

    log::setup("lab_peer", false);
    const auto table = transport::chooseStunServers(options.stun, nullptr);
    if (!table.invalidEntry.empty()) {
        std::fprintf(stderr, "lab_peer: bad --stun %s\n", table.invalidEntry.c_str());
        return 2;
    }
    platform::SystemRandom random;
    transport::P2PTransport p2p({table.servers}, std::make_shared<core::SteadyClock>(), random);
    std::atomic<int> goodFrames{0};
    std::atomic<int> badFrames{0};
    p2p.onSignal = [&](const std::string&, const json::Json& payload) {
        writeAtomically(options.signalOut, payload.dump());
    };
    p2p.onFrame = [&](Bytes frame) { (isNumberedFrame(frame) ? goodFrames : badFrames)++; };
    if (!options.relay.empty()) {
        const auto relay = transport::parseStunServer(options.relay);
        if (!relay) {
            std::fprintf(stderr, "lab_peer: bad --relay %s\n", options.relay.c_str());
            return 2;
        }
        p2p.setRelay(relay->host, relay->port, options.token);
    }
    p2p.start();

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(options.runMs);
    std::string lastPeerSignal;
    int sent = 0;
    std::optional<transport::P2PTransport::LinkState> stateWhenDone;
    while (std::chrono::steady_clock::now() < deadline) {
        if (const auto text = readAll(options.signalIn); !text.empty() && text != lastPeerSignal) {
            lastPeerSignal = text;
            if (const auto payload = json::parse(text)) {
                p2p.ingestSignal("ice", *payload);
            }
        }
        if (sent < options.sendFrames && p2p.linkState().connected) {
            p2p.sendFrame(numberedFrame(static_cast<std::uint8_t>(sent++)));
            if (sent == options.sendFrames) {
                stateWhenDone = p2p.linkState();
            }
        }
        if (options.expectFrames > 0 && goodFrames >= options.expectFrames) {
            stateWhenDone = p2p.linkState();
            break;
        }
        std::this_thread::sleep_for(30ms);
    }
    const auto state = stateWhenDone.value_or(p2p.linkState());
    p2p.stop();
    std::printf("lab result connected=%d relayed=%d frames=%d bad=%d\n", state.connected ? 1 : 0,
        state.relayed() ? 1 : 0, goodFrames.load(), badFrames.load());
    return 0;
}
