#pragma once

#include "core/asio_scheduler.h"
#include "core/clock.h"
#include "core/result.h"
#include "core/scheduler.h"
#include "server/relay_allocator.h"
#include "server/relay_table.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include <array>
#include <atomic>
#include <memory>
#include <mutex>

namespace tavoro::server {

// The UDP relay's socket around a RelayTable. Datagrams are read and sent in batches (recvmmsg and
// sendmmsg), one lock of the table per batch; a datagram longer than the peers' own receive buffer
// (2048 bytes) could not be used by them and is dropped. A relay challenge goes out in the slot of the bind
// it answers. open(), close() and the receiving run on the thread
// that runs `context`; allocate() and port() may be called from any thread. `mutex_` guards `table_`.
class RelayService final : public RelayAllocator {
public:
    RelayService(boost::asio::io_context& context, const core::Clock& clock, platform::SecureRandom& random,
        RelayTable::Limits limits);
    ~RelayService() override;

    // Binds the socket and starts receiving and the once-a-second expiry. A failure when the address
    // cannot be bound.
    Result<> open(const boost::asio::ip::udp::endpoint& at);
    void close();

    bool allocate(const std::string& token, const std::string& owner, const std::string& ownerAddress) override;
    bool allocateStanding(const std::string& token);
    std::uint16_t port() const override { return port_; }

private:
    struct Batch;
    void waitReadable();
    // Reads up to one batch of waiting datagrams and forwards those that go somewhere; false when
    // nothing more is waiting.
    bool relayBatch();

    boost::asio::io_context& context_;
    boost::asio::ip::udp::socket socket_;
    std::unique_ptr<Batch> batch_;
    std::atomic<std::uint16_t> port_{0};
    std::mutex mutex_; // guards table_
    RelayTable table_;
    core::AsioScheduler scheduler_;
    std::unique_ptr<core::RepeatingTimer> expiry_;
};

} // namespace tavoro::server
