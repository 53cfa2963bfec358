// Messages per second through Signaling and the rendezvous server on loopback, each message addressed
// to the sender itself so that the server routes it straight back: each iteration sends one message
// and waits for it (one round trip), and a second case keeps a window of messages in flight.
#include "platform/fake/manual_clock.h"
#include "server/file_sms_gateway.h"
#include "server/rendezvous_server.h"
#include "signaling/signaling.h"
#include "signaling/tls_websocket_connector.h"
#include "support/temp_dir.h"

#include <benchmark/benchmark.h>

#include <condition_variable>
#include <mutex>

namespace {

using namespace tavoro;

const std::string kSelf = "123456789";

server::ServerConfig loopbackConfig()
{
    server::ServerConfig config;
    config.listenAddress = "127.0.0.1";
    config.listenPort = 0;
    config.relayPort = 0;
    config.stunPort = 0;
    config.identity = *tls::makeSelfSigned("bench");
    return config;
}

struct EchoRig {
    test::TempDir state;
    server::FileSmsGateway sms{state.path() / "sms.txt"};
    server::RendezvousServer server{loopbackConfig(), sms};
    platform::fake::ManualClock clock;
    platform::fake::ManualScheduler scheduler{clock};
    signaling::Signaling sig{std::make_shared<signaling::TlsWebSocketConnector>(), scheduler};
    std::mutex mutex;
    std::condition_variable echoed;
    std::int64_t received = 0; // guarded by mutex
    bool open = false;         // guarded by mutex

    EchoRig()
    {
        if (auto started = server.start(); !started) {
            throw std::runtime_error(started.error());
        }
        sig.onOpen = [this] {
            std::lock_guard lock(mutex);
            open = true;
            echoed.notify_all();
        };
        sig.onText = [this](const std::string& type, const nlohmann::json&) {
            if (type != "push_msg") {
                return;
            }
            std::lock_guard lock(mutex);
            ++received;
            echoed.notify_all();
        };
        sig.start("wss://127.0.0.1:" + std::to_string(server.wssPort()) + "/ws", kSelf, "qxm", "");
        std::unique_lock lock(mutex);
        echoed.wait(lock, [&] { return open; });
    }

    void waitFor(std::int64_t count)
    {
        std::unique_lock lock(mutex);
        echoed.wait(lock, [&] { return received >= count; });
    }
};

const nlohmann::json kPayload = {{"to", kSelf}, {"text", "一条普通长度的聊天消息 with some ASCII too"}};

void BM_RoundTrip(benchmark::State& state)
{
    EchoRig rig;
    std::int64_t sent = 0;
    for (auto _ : state) {
        rig.sig.send("push_msg", kPayload);
        rig.waitFor(++sent);
    }
    state.SetItemsProcessed(sent);
}
BENCHMARK(BM_RoundTrip)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_Pipelined(benchmark::State& state)
{
    EchoRig rig;
    const std::int64_t window = state.range(0);
    std::int64_t sent = 0;
    for (auto _ : state) {
        for (std::int64_t i = 0; i < window; ++i) {
            rig.sig.send("push_msg", kPayload);
        }
        sent += window;
        rig.waitFor(sent);
    }
    state.SetItemsProcessed(sent);
}
BENCHMARK(BM_Pipelined)->Arg(64)->UseRealTime()->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
