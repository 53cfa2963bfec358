#pragma once

#include "core/clock.h"
#include "core/log.h"
#include "platform/posix/system_random.h"
#include "support/wait.h"
#include "transport/p2p_transport.h"

#include <memory>
#include <mutex>
#include <vector>

namespace tavoro::test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes patterned(std::size_t size, std::uint8_t seed)
{
    Bytes out(size);
    for (std::size_t i = 0; i < size; ++i) {
        out[i] = static_cast<std::uint8_t>(seed + i * 13 + i / 977);
    }
    return out;
}

// What one transport handed to its owner: advertisements, frames, input payloads. Thread-safe.
struct Received {
    std::mutex mutex;
    std::vector<json::Json> signals;
    std::vector<Bytes> frames;
    std::vector<Bytes> inputs;

    template <typename F>
    auto read(F&& reader)
    {
        std::lock_guard guard(mutex);
        return reader(*this);
    }
};

// A transport as a session owns it: shared, its callbacks recording into `received` and, once linked
// to a peer, carrying "ice" advertisements to the peer (held weakly, like the sessions do).
struct TestTransport {
    explicit TestTransport(std::vector<transport::StunServer> stun = {},
        std::shared_ptr<const core::Clock> clock = std::make_shared<core::SteadyClock>())
        : transport(std::make_shared<transport::P2PTransport>(
              transport::P2PTransport::Settings{std::move(stun)}, std::move(clock), random))
    {
        auto sink = received;
        transport->onFrame = [sink](Bytes frame) { sink->read([&](Received& r) { r.frames.push_back(std::move(frame)); }); };
        transport->onInput = [sink](Bytes payload) { sink->read([&](Received& r) { r.inputs.push_back(std::move(payload)); }); };
        linkTo(nullptr);
    }

    void linkTo(const std::shared_ptr<transport::P2PTransport>& peer)
    {
        std::weak_ptr<transport::P2PTransport> weakPeer = peer;
        auto sink = received;
        transport->onSignal = [sink, weakPeer](const std::string& kind, const json::Json& payload) {
            sink->read([&](Received& r) { r.signals.push_back(payload); });
            if (auto target = weakPeer.lock()) {
                target->ingestSignal(kind, payload);
            }
        };
    }

    std::size_t frameCount() { return received->read([](Received& r) { return r.frames.size(); }); }
    std::vector<json::Json> signals() { return received->read([](Received& r) { return r.signals; }); }
    std::vector<Bytes> inputs() { return received->read([](Received& r) { return r.inputs; }); }
    bool advertised() { return waitFor([&] { return !signals().empty(); }, std::chrono::seconds(2)); }

    platform::SystemRandom random;
    std::shared_ptr<Received> received = std::make_shared<Received>();
    std::shared_ptr<transport::P2PTransport> transport;
};

// Sends one frame and waits until the other side delivered it intact.
inline bool sendAndAwait(TestTransport& from, TestTransport& to, const Bytes& frame)
{
    const auto before = to.frameCount();
    return from.transport->sendFrame(frame) && waitFor([&] { return to.frameCount() > before; }, std::chrono::seconds(3))
        && to.received->read([&](Received& r) { return r.frames.back() == frame; });
}

} // namespace tavoro::test
