#pragma once

#include "transport/peer_link.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace tavoro::test {

// What a FakePeerLink was asked to do and what it reports; shared with the test, outliving the link.
struct FakeLinkRecord {
    std::mutex mutex; // guards every field
    bool started = false;
    bool stopped = false;
    bool acceptsFrames = true; // sendFrame's answer while connected
    transport::PeerLink::LinkState state;
    std::vector<std::vector<std::uint8_t>> sentFrames;
    std::vector<std::string> signals; // kinds passed to ingestSignal
    struct Relay {
        std::string host;
        std::int64_t port = 0;
        std::string token;
    };
    std::vector<Relay> relays;
};

// A peer link without sockets: its state is the test's to set, and the test raises its callbacks.
class FakePeerLink final : public transport::PeerLink {
public:
    explicit FakePeerLink(std::shared_ptr<FakeLinkRecord> record) : record_(std::move(record)) {}

    void start() override { with([](FakeLinkRecord& r) { r.started = true; }); }
    void setRelay(const std::string& host, std::int64_t port, const std::string& token) override
    {
        with([&](FakeLinkRecord& r) { r.relays.push_back({host, port, token}); });
    }
    void ingestSignal(std::string_view kind, const json::Json&) override
    {
        with([&](FakeLinkRecord& r) { r.signals.emplace_back(kind); });
    }
    bool sendFrame(std::span<const std::uint8_t> data) override
    {
        std::lock_guard lock(record_->mutex);
        if (record_->stopped || !record_->state.connected || !record_->acceptsFrames) {
            return false;
        }
        record_->sentFrames.emplace_back(data.begin(), data.end());
        return true;
    }
    void stop() override
    {
        with([](FakeLinkRecord& r) {
            r.stopped = true;
            r.state.connected = false;
        });
    }
    LinkState linkState() const override
    {
        std::lock_guard lock(record_->mutex);
        return record_->state;
    }

private:
    template <typename Fn>
    void with(Fn fn)
    {
        std::lock_guard lock(record_->mutex);
        fn(*record_);
    }
    std::shared_ptr<FakeLinkRecord> record_;
};

} // namespace tavoro::test
