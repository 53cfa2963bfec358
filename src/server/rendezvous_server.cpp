#include "server/rendezvous_server.h"

#include "core/asio_scheduler.h"
#include "core/log.h"
#include "core/scheduler.h"
#include "platform/posix/system_random.h"
#include "server/hub.h"
#include "server/redis_cluster.h"
#include "server/sqlite_device_key_store.h"
#include "server/relay_service.h"
#include "server/stun_service.h"
#include "server/wss_server.h"

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

Result<std::unique_ptr<DeviceKeyStore>> openDeviceKeys(const std::filesystem::path& stateDir)
{
    if (stateDir.empty()) {
        return std::make_unique<MemoryDeviceKeyStore>();
    }
    auto store = SqliteDeviceKeyStore::open(stateDir / "device_keys.sqlite3");
    if (!store) {
        return Failure{store.error()};
    }
    return std::move(*store);
}

// 64 random bits in hex: distinct for every start of every node.
std::string makeNodeId(platform::SecureRandom& random)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::uint8_t bytes[8];
    random.fill(bytes);
    std::string id;
    for (std::uint8_t b : bytes) {
        id += kHex[b >> 4];
        id += kHex[b & 15];
    }
    return id;
}

// How long start() waits for Redis before serving all the same.
constexpr auto kRedisWait = std::chrono::seconds(5);

} // namespace

RendezvousServer::RendezvousServer(ServerConfig config, SmsGateway& sms)
    : config_(std::move(config)), sms_(sms), random_(std::make_unique<platform::SystemRandom>())
{
}

RendezvousServer::~RendezvousServer() { stop(); }

Result<> RendezvousServer::start()
{
    RelayTable::Limits limits;
    limits.bytesPerSecond = config_.relayRateMbit * 1e6 / 8;
    limits.maxSessionsPerOwner = config_.relaysPerDevice;
    limits.maxSessionsPerAddress = config_.relaysPerAddress;
    relay_ = std::make_unique<RelayService>(relayLoop_.context(), clock_, *random_, limits);
    stun_ = std::make_unique<StunService>(relayLoop_.context(), clock_);
    for (const auto& token : config_.standingRelayTokens) {
        relay_->allocateStanding(token);
    }
    const auto address = udpAddress(config_.listenAddress);
    started_ = true;
    Result<> opened = runOn(relayLoop_, [&]() -> Result<> {
        auto relayOpened = relay_->open(udp::endpoint(address, config_.relayPort));
        if (!relayOpened) {
            return relayOpened;
        }
        return stun_->open(udp::endpoint(address, config_.stunPort));
    });
    if (opened) {
        opened = startSignaling();
    }
    if (!opened) {
        stop();
    }
    return opened;
}

Result<> RendezvousServer::startSignaling()
{
    auto deviceKeys = openDeviceKeys(config_.stateDir);
    if (!deviceKeys) {
        return Failure{deviceKeys.error()};
    }
    deviceKeys_ = std::move(*deviceKeys);
    WssLimits limits;
    limits.maxPerAddress = config_.maxPerAddress;
    // One thread: it does everything, without a hand-over per message. More: the hub keeps its thread
    // to itself, so that the system balances the serving threads against it as the load shifts.
    WssServer::Contexts serving;
    for (std::size_t i = 1; config_.threads > 1 && i <= config_.threads; ++i) {
        servingLoops_.push_back(std::make_unique<core::EventLoopThread>("rdv.serve." + std::to_string(i)));
        serving.emplace_back(servingLoops_.back()->context());
    }
    wss_ = std::make_unique<WssServer>(signalingLoop_.context(), std::move(serving), limits);
    HubConfig hubConfig;
    hubConfig.accessToken = config_.accessToken;
    hubConfig.publicHost = config_.publicHost;
    hubConfig.callRate = config_.callRate;
    scheduler_ = std::make_unique<core::AsioScheduler>(signalingLoop_.executor());
    if (config_.redis) {
        nodeId_ = makeNodeId(*random_);
        log::info("Tavoro rendezvous: node " + nodeId_ + " of the cluster on " + config_.redis->redacted());
        cluster_ = std::make_unique<RedisCluster>(signalingLoop_.context(), *scheduler_, *config_.redis, nodeId_,
            RedisClusterOptions{config_.clusterLease, config_.clusterRenewal});
    }
    hub_ = std::make_unique<Hub>(*wss_, *relay_, sms_, *deviceKeys_, *random_, clock_, hubConfig, cluster_.get());
    if (cluster_) {
        joinCluster();
    }
    return runOn(signalingLoop_, [&]() -> Result<> {
        auto listening = wss_->listen(config_.identity, config_.listenAddress, config_.listenPort, *hub_);
        if (!listening) {
            return listening;
        }
        tick_ = std::make_unique<core::RepeatingTimer>(*scheduler_, std::chrono::seconds(1), [this] {
            hub_->tick();
            wss_->tick();
        });
        return {};
    });
}

// Waits for the first word from Redis on both connections (connected, or the line saying why not)
// before devices come.
void RendezvousServer::joinCluster()
{
    auto settled = std::make_shared<std::promise<void>>();
    auto waited = settled->get_future();
    runOn(signalingLoop_, [&] {
        cluster_->onSettled([settled] { settled->set_value(); });
        cluster_->onLost([this](const std::string& deviceId) { hub_->lostToCluster(deviceId); });
        cluster_->start([this](const std::string& payload) { hub_->fromCluster(payload); });
        return true;
    });
    waited.wait_for(kRedisWait);
}

void RendezvousServer::stop()
{
    if (!started_) {
        return;
    }
    started_ = false;
    if (wss_) {
        auto closed = std::make_shared<std::promise<void>>();
        signalingLoop_.post([this, closed] {
            tick_.reset();
            wss_->shutdown([this, closed] {
                // The IDs of the devices just closed are freed before the link goes.
                if (cluster_) {
                    cluster_->flush([closed] { closed->set_value(); });
                } else {
                    closed->set_value();
                }
            });
        });
        closed->get_future().wait_for(std::chrono::seconds(5));
        runOn(signalingLoop_, [this] {
            cluster_.reset();
            return true;
        });
    }
    for (auto& loop : servingLoops_) {
        loop->stop();
    }
    signalingLoop_.stop();
    runOn(relayLoop_, [&] {
        relay_->close();
        stun_->close();
        return true;
    });
    relayLoop_.stop();
}

std::uint16_t RendezvousServer::wssPort() const { return wss_ ? wss_->port() : 0; }

std::uint16_t RendezvousServer::relayPort() const { return relay_ ? relay_->port() : 0; }

std::uint16_t RendezvousServer::stunPort() const { return stun_ ? stun_->port() : 0; }

std::string RendezvousServer::fingerprint() const { return tls::fingerprintOfPem(config_.identity.certificatePem); }

} // namespace tavoro::server
