#pragma once

#include "core/clock.h"
#include "core/log.h"
#include "platform/linux/system_random.h"
#include "transport/p2p_transport.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace tavoro::test {

// What one transport handed to its owner: advertisements, frames, input payloads. Thread-safe.
struct Received {
    std::mutex mutex;
    std::vector<json::Json> signals;
    std::vector<std::vector<std::uint8_t>> frames;
    std::vector<std::vector<std::uint8_t>> inputs;

    template <typename F>
    auto read(F&& reader)
    {
        std::lock_guard guard(mutex);
        return reader(*this);
    }
};

// A transport as a session owns it: shared, its callbacks recording into `received` and, when a peer
// is linked, carrying "ice" advertisements to the peer (held weakly, like the sessions do).
struct TestTransport {
    explicit TestTransport(std::vector<transport::StunServer> stun)
        : transport(std::make_shared<transport::P2PTransport>(
              transport::P2PTransport::Settings{std::move(stun)}, std::make_shared<core::SteadyClock>(), random))
    {
        auto sink = received;
        transport->onFrame = [sink](std::vector<std::uint8_t> frame) {
            std::lock_guard guard(sink->mutex);
            sink->frames.push_back(std::move(frame));
        };
        transport->onInput = [sink](std::vector<std::uint8_t> payload) {
            std::lock_guard guard(sink->mutex);
            sink->inputs.push_back(std::move(payload));
        };
    }

    // Advertisements go to `peer` (when set) as well as into `received`.
    void linkTo(const std::shared_ptr<transport::P2PTransport>& peer)
    {
        std::weak_ptr<transport::P2PTransport> weakPeer = peer;
        auto sink = received;
        transport->onSignal = [sink, weakPeer](const std::string& kind, const json::Json& payload) {
            {
                std::lock_guard guard(sink->mutex);
                sink->signals.push_back(payload);
            }
            if (auto target = weakPeer.lock()) {
                target->ingestSignal(kind, payload);
            }
        };
    }

    std::size_t frameCount() { return received->read([](Received& r) { return r.frames.size(); }); }

    platform::SystemRandom random;
    std::shared_ptr<Received> received = std::make_shared<Received>();
    std::shared_ptr<transport::P2PTransport> transport;
};

} // namespace tavoro::test
