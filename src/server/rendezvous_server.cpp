#include "server/rendezvous_server.h"

#include "server/relay_service.h"
#include "server/stun_service.h"

#include <boost/asio/ip/address.hpp>

#include <future>

namespace tavoro::server {
namespace {

using boost::asio::ip::udp;

// Runs task on the loop's thread and waits for its result.
template <typename Task>
auto runOn(core::EventLoopThread& loop, Task task)
{
    std::packaged_task<decltype(task())()> packaged(std::move(task));
    auto result = packaged.get_future();
    loop.post([&packaged] { packaged(); });
    return result.get();
}

// The UDP services share the WebSocket's address when it is IPv4; the peers' transport is IPv4 only.
boost::asio::ip::address_v4 udpAddress(const std::string& listenAddress)
{
    boost::system::error_code ec;
    auto address = boost::asio::ip::make_address(listenAddress, ec);
    if (ec || !address.is_v4()) {
        return boost::asio::ip::address_v4::any();
    }
    return address.to_v4();
}

} // namespace

RendezvousServer::RendezvousServer(ServerConfig config) : config_(std::move(config)) {}

RendezvousServer::~RendezvousServer() { stop(); }

bool RendezvousServer::start(std::string& error)
{
    RelayTable::Limits limits;
    limits.bytesPerSecond = config_.relayRateMbit * 1e6 / 8;
    relay_ = std::make_unique<RelayService>(relayLoop_.context(), clock_, limits);
    stun_ = std::make_unique<StunService>(relayLoop_.context());
    for (const auto& token : config_.standingRelayTokens) {
        relay_->allocateStanding(token);
    }
    const auto address = udpAddress(config_.listenAddress);
    const bool opened = runOn(relayLoop_, [&] {
        return relay_->open(udp::endpoint(address, config_.relayPort), error)
            && stun_->open(udp::endpoint(address, config_.stunPort), error);
    });
    started_ = true;
    if (!opened) {
        stop();
    }
    return opened;
}

void RendezvousServer::stop()
{
    if (!started_) {
        return;
    }
    started_ = false;
    runOn(relayLoop_, [&] {
        relay_->close();
        stun_->close();
        return true;
    });
    relayLoop_.stop();
}

std::uint16_t RendezvousServer::relayPort() const { return relay_ ? relay_->port() : 0; }

std::uint16_t RendezvousServer::stunPort() const { return stun_ ? stun_->port() : 0; }

} // namespace tavoro::server
