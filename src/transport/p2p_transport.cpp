#include "transport/p2p_transport.h"

#include "core/log.h"
#include "core/unique_fd.h"
#include "transport/candidates.h"
#include "transport/chunker.h"
#include "transport/datagram.h"
#include "transport/name_resolver.h"
#include "transport/peer_path.h"
#include "transport/reassembler.h"
#include "transport/stun.h"
#include "transport/udp_socket.h"

#include <algorithm>
#include <array>
#include <mutex>
#include <pthread.h>
#include <system_error>

namespace tavoro::transport {
namespace {

constexpr int kSocketReceiveBuffer = 1'048'576;
constexpr std::size_t kReceiveBuffer = 2048;
constexpr int kMaxReadsPerWake = 256;
constexpr auto kPollWait = std::chrono::milliseconds(100);
constexpr auto kGatherSlice = std::chrono::milliseconds(50);
constexpr std::uint64_t kGatherMs = 300;
constexpr auto kNameWait = std::chrono::milliseconds(150);

const char* pathLabel(bool viaRelay) { return viaRelay ? " (UDP 中继)" : " (直连)"; }

} // namespace

// Everything the worker thread touches lives here, shared between the handle and the thread, so that
// the worker can finish safely even when the handle is destroyed on the worker itself.
class P2PTransport::Core {
public:
    Core(Settings settings, std::shared_ptr<const core::Clock> clock, const stun::TransactionId& txn)
        : clock_(std::move(clock)), stunServers_(std::move(settings.stunServers)), stunTxn_(txn), reassembler_(*clock_)
    {
    }

    // Caller side.
    std::optional<core::UniqueFd> open();
    void keepThread(std::thread thread);
    std::thread takeThread();
    void setRelay(const std::string& host, std::int64_t port, const std::string& token);
    void ingestSignal(std::string_view kind, const json::Json& payload);
    bool sendFrame(std::span<const std::uint8_t> data);
    void stop();
    LinkState linkState() const;
    std::uint16_t localPort() const;

    // Worker side.
    void workerLoop(core::UniqueFd socket);

    SignalCallback onSignal;
    FrameCallback onFrame;
    InputCallback onInput;

private:
    std::uint64_t now() const { return clock_->uptimeMs(); }
    bool stopped() const;
    bool haveReflexive() const;

    void gatherAndAdvertise(int fd, std::span<std::uint8_t> buffer);
    void drain(int fd, std::span<std::uint8_t> buffer);
    void onPacket(int fd, std::span<const std::uint8_t> bytes, const Endpoint& from);
    void onPing(int fd, const Datagram& ping, const Endpoint& from);
    void onPong(const Datagram& pong, const Endpoint& from);
    void onChunk(const Datagram& chunk, const Endpoint& from);
    void onInputDatagram(const Datagram& input, const Endpoint& from);
    void onRelayChallenge(int fd, const Datagram& challenge, const Endpoint& from);
    void expireIfSilent(std::uint64_t nowMs);
    void parseStun(std::span<const std::uint8_t> bytes);
    void advertise();
    void sendStun(int fd, std::chrono::steady_clock::time_point waitForNamesUntil = {});
    void runPingRound(int fd, std::uint64_t elapsed, std::uint64_t nowMs);
    void sendPing(int fd, const Endpoint& to);
    void sendRelayBind(int fd);

    const std::shared_ptr<const core::Clock> clock_;
    const std::vector<StunServer> stunServers_;
    const stun::TransactionId stunTxn_;

    mutable std::mutex lock_;
    int fd_ = -1;                    // guarded by lock_
    std::uint16_t localPort_ = 0;    // guarded by lock_
    bool stopFlag_ = false;          // guarded by lock_
    std::thread thread_;             // guarded by lock_
    std::uint32_t nextFrameId_ = 1;  // guarded by lock_
    PeerPath path_;                  // guarded by lock_

    // Worker thread only.
    NameResolver stunCache_;
    std::uint64_t lastRelayBindMs_ = 0;
    Reassembler reassembler_;
};

std::optional<core::UniqueFd> P2PTransport::Core::open()
{
    std::uint16_t port = 0;
    core::UniqueFd socket;
    {
        std::lock_guard guard(lock_);
        if (fd_ >= 0 || stopFlag_) {
            return std::nullopt;
        }
        socket = net::openUdpSocket(kSocketReceiveBuffer);
        if (!socket.valid()) {
            return std::nullopt;
        }
        port = net::boundPort(socket.get());
        localPort_ = port;
        fd_ = socket.get();
    }
    log::info("Tavoro p2p: UDP socket 已就绪 本地端口 " + std::to_string(port));
    return socket;
}

void P2PTransport::Core::keepThread(std::thread thread)
{
    std::lock_guard guard(lock_);
    thread_ = std::move(thread);
}

std::thread P2PTransport::Core::takeThread()
{
    std::lock_guard guard(lock_);
    return std::move(thread_);
}

void P2PTransport::Core::setRelay(const std::string& host, std::int64_t port, const std::string& token)
{
    if (host.empty() || port < 1 || port > 65535 || token.empty()) {
        return;
    }
    const auto endpoint = net::resolveIPv4(host, static_cast<std::uint16_t>(port));
    if (!endpoint) {
        log::info("Tavoro p2p: 中继地址解析失败 " + host);
        return;
    }
    {
        std::lock_guard guard(lock_);
        path_.relayEp = endpoint;
        path_.relayToken.assign(token.begin(), token.end());
        path_.relayEnabled = true;
    }
    log::info("Tavoro p2p: UDP 中继候选 " + host + ":" + std::to_string(port));
}

void P2PTransport::Core::ingestSignal(std::string_view kind, const json::Json& payload)
{
    const auto candidates = parseCandidates(kind, payload);
    int added = 0;
    {
        std::lock_guard guard(lock_);
        added = path_.addCandidates(candidates);
    }
    if (added > 0) {
        log::info("Tavoro p2p: 收到 " + std::to_string(added) + " 个对端候选");
    }
}

bool P2PTransport::Core::sendFrame(std::span<const std::uint8_t> data)
{
    std::lock_guard guard(lock_);
    if (stopFlag_ || !path_.connected || fd_ < 0 || !path_.selected) {
        return false;
    }
    const std::uint32_t frameId = nextFrameId_++;
    const auto count = chunkCount(data.size());
    if (!count) {
        return false;
    }
    std::array<std::uint8_t, kMaxDatagram> datagram;
    for (int copy = 0; copy < 2; ++copy) {
        for (std::uint32_t index = 0; index < *count; ++index) {
            const auto length = writeChunk(datagram, frameId, static_cast<std::uint16_t>(index), *count, data);
            net::sendTo(fd_, std::span(datagram).first(length), *path_.selected);
        }
    }
    return true;
}

void P2PTransport::Core::stop()
{
    std::lock_guard guard(lock_);
    stopFlag_ = true;
    path_.connected = false;
}

P2PTransport::LinkState P2PTransport::Core::linkState() const
{
    std::lock_guard guard(lock_);
    return LinkState{path_.connected, path_.rttMs, path_.selected, path_.relayEp};
}

std::uint16_t P2PTransport::Core::localPort() const
{
    std::lock_guard guard(lock_);
    return localPort_;
}

bool P2PTransport::Core::stopped() const
{
    std::lock_guard guard(lock_);
    return stopFlag_;
}

bool P2PTransport::Core::haveReflexive() const
{
    std::lock_guard guard(lock_);
    return path_.reflexive.has_value();
}

void P2PTransport::Core::workerLoop(core::UniqueFd socket)
{
    ::pthread_setname_np(::pthread_self(), "tavoro.p2p");
    const int fd = socket.get();
    std::array<std::uint8_t, kReceiveBuffer> buffer;
    gatherAndAdvertise(fd, buffer);

    const std::uint64_t start = now();
    std::uint64_t lastStunMs = 0;
    std::uint64_t lastRoundMs = 0;
    while (!stopped()) {
        if (net::waitReadable(fd, kPollWait)) {
            drain(fd, buffer);
        }
        const std::uint64_t nowMs = now();
        const std::uint64_t elapsed = nowMs - start;
        expireIfSilent(nowMs);
        if (schedule::stunDue(haveReflexive(), elapsed, nowMs, lastStunMs)) {
            sendStun(fd);
            lastStunMs = nowMs;
        }
        if (schedule::pingRoundDue(elapsed, nowMs, lastRoundMs)) {
            lastRoundMs = nowMs;
            runPingRound(fd, elapsed, nowMs);
        }
        reassembler_.sweep(nowMs);
    }
    {
        std::lock_guard guard(lock_);
        if (fd_ == fd) {
            fd_ = -1;
        }
    }
    socket.reset();
    log::info("Tavoro p2p: 已停止");
}

void P2PTransport::Core::gatherAndAdvertise(int fd, std::span<std::uint8_t> buffer)
{
    // Names get a moment to resolve so that the first round reaches every server, but never longer.
    const std::uint64_t start = now();
    sendStun(fd, std::chrono::steady_clock::now() + kNameWait);
    while (now() - start < kGatherMs && !haveReflexive() && !stopped()) {
        if (net::waitReadable(fd, kGatherSlice)) {
            drain(fd, buffer);
        }
    }
    advertise();
}

void P2PTransport::Core::drain(int fd, std::span<std::uint8_t> buffer)
{
    for (int read = 0; read < kMaxReadsPerWake; ++read) {
        const auto received = net::receiveFrom(fd, buffer);
        if (!received) {
            return;
        }
        onPacket(fd, buffer.first(received->length), received->from);
    }
}

void P2PTransport::Core::onPacket(int fd, std::span<const std::uint8_t> bytes, const Endpoint& from)
{
    if (isStunSuccessResponse(bytes)) {
        parseStun(bytes);
        return;
    }
    const auto datagram = parseDatagram(bytes);
    if (!datagram) {
        return;
    }
    switch (static_cast<Kind>(datagram->header.kind)) {
    case Kind::ping:
        onPing(fd, *datagram, from);
        break;
    case Kind::pong:
        onPong(*datagram, from);
        break;
    case Kind::chunk:
        onChunk(*datagram, from);
        break;
    case Kind::input:
        onInputDatagram(*datagram, from);
        break;
    case Kind::relayChallenge:
        onRelayChallenge(fd, *datagram, from);
        break;
    default:
        break;
    }
}

void P2PTransport::Core::onPing(int fd, const Datagram& ping, const Endpoint& from)
{
    const std::uint32_t id = ping.payload.size() >= 4 ? u32(ping.payload, 0) : ping.header.frameId;
    net::sendTo(fd, makePingOrPong(Kind::pong, id), from);
    const std::uint64_t nowMs = now();
    PeerPath::Arrival arrival;
    {
        std::lock_guard guard(lock_);
        if (stopFlag_) {
            return; // a stopped transport stays disconnected
        }
        arrival = path_.pingFrom(from, nowMs);
    }
    if (!arrival.wasConnected) {
        log::info("Tavoro p2p: 对端可达 " + ipString(from) + pathLabel(arrival.viaRelay));
    }
}

void P2PTransport::Core::onPong(const Datagram& pong, const Endpoint& from)
{
    const auto answered = pong.payload.size() >= 4 ? std::optional(u32(pong.payload, 0)) : std::nullopt;
    const std::uint64_t nowMs = now();
    PeerPath::Arrival arrival;
    {
        std::lock_guard guard(lock_);
        if (stopFlag_) {
            return;
        }
        arrival = path_.pongFrom(from, answered, nowMs);
    }
    if (!arrival.wasConnected) {
        log::info("Tavoro p2p: 打洞成功 selected=" + ipString(from) + pathLabel(arrival.viaRelay));
    }
}

void P2PTransport::Core::onChunk(const Datagram& chunk, const Endpoint& from)
{
    const std::uint64_t nowMs = now();
    {
        std::lock_guard guard(lock_);
        path_.heardFrom(from, nowMs);
    }
    auto frame = reassembler_.reassemble(chunk.header.frameId, chunk.header.chunkIndex, chunk.header.chunkCount,
        chunk.payload);
    if (frame && onFrame) {
        onFrame(std::move(*frame));
    }
}

void P2PTransport::Core::onInputDatagram(const Datagram& input, const Endpoint& from)
{
    const std::uint64_t nowMs = now();
    bool accepted = false;
    {
        std::lock_guard guard(lock_);
        path_.heardFrom(from, nowMs);
        accepted = path_.acceptsInputFrom(from);
    }
    if (accepted && !input.payload.empty() && onInput) {
        onInput(std::vector<std::uint8_t>(input.payload.begin(), input.payload.end()));
    }
}

void P2PTransport::Core::onRelayChallenge(int fd, const Datagram& challenge, const Endpoint& from)
{
    const auto parsed = parseRelayChallenge(challenge);
    if (!parsed) {
        return;
    }
    bool ours = false;
    {
        std::lock_guard guard(lock_);
        ours = path_.isRelay(from) && std::ranges::equal(parsed->token, path_.relayToken);
    }
    // Only the relay's challenge for this call's token is echoed: a proof for any other would bind this
    // address to a session someone else asked for.
    if (!ours) {
        return;
    }
    std::array<std::uint8_t, kMaxRelayChallengeSize> proof;
    const auto length = writeRelayChallenge(proof, Kind::relayProof, parsed->nonce, parsed->token);
    net::sendTo(fd, std::span(proof).first(length), from);
}

void P2PTransport::Core::expireIfSilent(std::uint64_t nowMs)
{
    bool expired = false;
    {
        std::lock_guard guard(lock_);
        expired = path_.expireIfSilent(nowMs);
    }
    if (expired) {
        log::info("Tavoro p2p: 对端 3 秒无响应，路径断开");
    }
}

void P2PTransport::Core::parseStun(std::span<const std::uint8_t> bytes)
{
    const auto mapped = stun::parseBindingResponse(bytes, stunTxn_);
    if (!mapped) {
        return;
    }
    {
        std::lock_guard guard(lock_);
        path_.reflexive = Reflexive{mapped->addressText(), mapped->port};
    }
    log::info("Tavoro p2p: STUN 反射地址 " + ipString(*mapped));
    advertise();
}

void P2PTransport::Core::advertise()
{
    const auto addresses = net::localIPv4();
    std::uint16_t port = 0;
    std::optional<Reflexive> reflexive;
    {
        std::lock_guard guard(lock_);
        port = localPort_;
        reflexive = path_.reflexive;
    }
    if (onSignal) {
        onSignal(std::string(kIceKind), makeAdvertisement(addresses, port, reflexive));
    }
}

void P2PTransport::Core::sendStun(int fd, std::chrono::steady_clock::time_point waitForNamesUntil)
{
    const auto request = stun::makeBindingRequest(stunTxn_);
    for (const auto& server : stunServers_) {
        if (const auto address = stunCache_.resolve(server.host, server.port, waitForNamesUntil)) {
            net::sendTo(fd, request, *address);
        }
    }
}

void P2PTransport::Core::runPingRound(int fd, std::uint64_t elapsed, std::uint64_t nowMs)
{
    PeerPath snapshot;
    {
        std::lock_guard guard(lock_);
        snapshot.relayEnabled = path_.relayEnabled;
        snapshot.relayEp = path_.relayEp;
        snapshot.remoteCands = path_.remoteCands;
        snapshot.selected = path_.selected;
        snapshot.connected = path_.connected;
    }
    for (const auto& step : schedule::planRound(snapshot, elapsed, nowMs, lastRelayBindMs_)) {
        if (step.action == schedule::RoundStep::Action::ping) {
            sendPing(fd, step.to);
        } else {
            sendRelayBind(fd);
        }
    }
}

void P2PTransport::Core::sendPing(int fd, const Endpoint& to)
{
    std::uint32_t id = 0;
    {
        std::lock_guard guard(lock_);
        id = path_.takePingId(now());
    }
    net::sendTo(fd, makePingOrPong(Kind::ping, id), to);
}

void P2PTransport::Core::sendRelayBind(int fd)
{
    std::array<std::uint8_t, kMaxRelayBindSize> datagram;
    std::size_t length = 0;
    std::optional<Endpoint> relay;
    {
        std::lock_guard guard(lock_);
        relay = path_.relayEp;
        length = writeRelayBind(datagram, path_.relayToken);
    }
    if (!relay || length == 0) {
        return;
    }
    net::sendTo(fd, std::span(datagram).first(length), *relay);
    lastRelayBindMs_ = now();
}

P2PTransport::P2PTransport(Settings settings, std::shared_ptr<const core::Clock> clock, platform::SecureRandom& random)
{
    stun::TransactionId txn{};
    for (auto& byte : txn) {
        random.fill(std::span(&byte, 1));
    }
    core_ = std::make_shared<Core>(std::move(settings), std::move(clock), txn);
}

P2PTransport::~P2PTransport()
{
    core_->stop();
    std::thread worker = core_->takeThread();
    if (!worker.joinable()) {
        return;
    }
    if (worker.get_id() == std::this_thread::get_id()) {
        worker.detach(); // the worker holds the core and ends on its own after this pass
    } else {
        worker.join();
    }
}

void P2PTransport::start()
{
    auto socket = core_->open();
    if (!socket) {
        return;
    }
    // The worker reads these without a lock; they are written before it starts and never again.
    core_->onSignal = onSignal;
    core_->onFrame = onFrame;
    core_->onInput = onInput;
    try {
        core_->keepThread(std::thread([core = core_, fd = std::move(*socket)]() mutable {
            core->workerLoop(std::move(fd));
        }));
    } catch (const std::system_error&) {
        core_->stop(); // no thread: the socket closed with the lambda; the transport stays unusable
    }
}

void P2PTransport::setRelay(const std::string& host, std::int64_t port, const std::string& token)
{
    core_->setRelay(host, port, token);
}

void P2PTransport::ingestSignal(std::string_view kind, const json::Json& payload)
{
    core_->ingestSignal(kind, payload);
}

bool P2PTransport::sendFrame(std::span<const std::uint8_t> data) { return core_->sendFrame(data); }

void P2PTransport::stop() { core_->stop(); }

P2PTransport::LinkState P2PTransport::linkState() const { return core_->linkState(); }

std::uint16_t P2PTransport::localPort() const { return core_->localPort(); }

} // namespace tavoro::transport
