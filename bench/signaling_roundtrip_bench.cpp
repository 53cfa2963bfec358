// Messages per second through Signaling to a loopback TLS WebSocket server that echoes every text
// back: each iteration sends one message and waits for its echo (one round trip), and a second case
// keeps a window of messages in flight.
#include "platform/fake/manual_clock.h"
#include "signaling/signaling.h"
#include "signaling/tls_websocket_connector.h"
#include "support/wait.h"
#include "support/ws_test_server.h"

#include <benchmark/benchmark.h>

#include <condition_variable>
#include <mutex>

namespace {

using namespace tavoro;

struct EchoRig {
    test::WsTestServer server;
    platform::fake::ManualClock clock;
    platform::fake::ManualScheduler scheduler{clock};
    signaling::Signaling sig{std::make_shared<signaling::TlsWebSocketConnector>(), scheduler};
    std::mutex mutex;
    std::condition_variable echoed;
    std::int64_t received = 0; // guarded by mutex
    bool open = false;         // guarded by mutex

    EchoRig()
    {
        server.setEcho(true);
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
        sig.start(server.url(), "123456789", "");
        std::unique_lock lock(mutex);
        echoed.wait(lock, [&] { return open; });
    }

    void waitFor(std::int64_t count)
    {
        std::unique_lock lock(mutex);
        echoed.wait(lock, [&] { return received >= count; });
    }
};

const nlohmann::json kPayload = {{"to", "987654321"}, {"text", "一条普通长度的聊天消息 with some ASCII too"}};

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
