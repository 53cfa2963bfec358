// The only translation unit of the server that includes Boost.Beast.
#include "server/wss_server.h"

#include "core/log.h"
#include "server/address_limit.h"
#include "server/descriptor_reserve.h"
#include "server/log_throttle.h"
#include "server/queue_budget.h"
#include "server/tls_stream.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <openssl/ssl.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <malloc.h>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

namespace tavoro::server {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace ssl = asio::ssl;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

constexpr std::chrono::milliseconds kAcceptRetry{100};
constexpr std::size_t kMaxAtHub = 64 * 1024;
constexpr std::chrono::milliseconds kShutdownLimit{2000};

std::string endpointText(const tcp::endpoint& endpoint)
{
    const auto address = endpoint.address();
    const std::string text = address.is_v6() ? "[" + address.to_string() + "]" : address.to_string();
    return text + ":" + std::to_string(endpoint.port());
}

std::string unmappedAddress(const asio::ip::address& address)
{
    if (address.is_v6() && address.to_v6().is_v4_mapped()) {
        return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6()).to_string();
    }
    return address.to_string();
}

void logLine(ConnectionId id, const std::string& what)
{
    log::info("Tavoro rendezvous: #" + std::to_string(id) + " " + what);
}

bool outOfDescriptors(const boost::system::error_code& ec)
{
    return ec.category() == boost::system::system_category() && (ec.value() == EMFILE || ec.value() == ENFILE);
}

core::SteadyTime now() { return std::chrono::steady_clock::now(); }

class Session;

} // namespace

// What Beast's timeouts do to a connection that ran out of time (found by argument-dependent lookup).
void beast_close_socket(TlsStream& stream)
{
    beast::error_code ignored;
    stream.socket().close(ignored);
}

// Ends a WebSocket connection over TLS for Beast, found by argument-dependent lookup: close_notify,
// then the TCP connection's end as Beast does it for a plain socket.
template <typename TeardownHandler>
void async_teardown(beast::role_type role, TlsStream& stream, TeardownHandler&& handler)
{
    stream.async_shutdown([role, &stream, handler = std::forward<TeardownHandler>(handler)](
                              const beast::error_code&, std::size_t) mutable {
        websocket::async_teardown(role, stream.socket(), std::move(handler));
    });
}


class WssServer::Impl {
public:
    Impl(asio::io_context& hub, Contexts serving, WssLimits limits)
        : hub_(hub), serving_(serving.empty() ? Contexts{hub} : std::move(serving)), limits_(limits),
          tls_(ssl::context::tls_server), acceptor_(hub), acceptRetry_(hub), shutdownTimer_(hub),
          addresses_(limits.maxPerAddress), budget_(limits.queueBudget)
    {
    }

    Result<> setUpTls(const tls::PemIdentity& identity);
    Result<> listen(const std::string& address, std::uint16_t port);
    void shutdown(std::function<void()> done);

    // Hub thread.
    std::shared_ptr<Session> find(ConnectionId id) const
    {
        auto it = sessions_.find(id);
        return it == sessions_.end() ? nullptr : it->second;
    }
    void tick();

    // Called by sessions on their serving threads; each reaches the hub context in order.
    void opened(const std::shared_ptr<Session>& session, ConnectionInfo info);
    void text(const std::shared_ptr<Session>& session, std::string_view text);
    void binary(const std::shared_ptr<Session>& session, SharedBytes bytes);
    void gone(ConnectionId id);
    // A connection's queue went from `before` to `after` bytes (any thread).
    void requeued(std::size_t before, std::size_t after);

    // Set up before the contexts run handlers of this server, read-only after.
    asio::io_context& hub_;
    const Contexts serving_;
    const WssLimits limits_;
    ssl::context tls_;
    ConnectionEvents* events_ = nullptr;

    std::atomic<std::uint16_t> port_{0};
    std::atomic<bool> stopping_{false};

private:
    bool onHubThread() const { return hub_.get_executor().running_in_this_thread(); }
    void accept();
    void onAccepted(tcp::socket socket);
    void onAcceptFailed(const beast::error_code& ec);
    void retryAccept();
    void reportOpened(const std::shared_ptr<Session>& session, const ConnectionInfo& info);
    void reportGone(ConnectionId id);
    // Closes the connections holding the most when all queues together are over the budget.
    void enforceBudget();

    // Hub thread only.
    tcp::acceptor acceptor_;
    asio::steady_timer acceptRetry_;
    asio::steady_timer shutdownTimer_;
    std::unordered_map<ConnectionId, std::shared_ptr<Session>> sessions_; // opened connections
    ConnectionId nextId_ = 0;
    std::size_t nextServing_ = 0; // the serving context of the next accepted connection
    std::function<void()> shutdownDone_;
    DescriptorReserve reserve_;
    LogThrottle refusedAddressLog_;
    LogThrottle outOfDescriptorsLog_;
    LogThrottle acceptFailedLog_;

    AddressLimit addresses_; // locks itself: slots are let go on the serving threads
    std::mutex budgetMutex_;
    QueueBudget budget_;                     // guarded by budgetMutex_
    std::atomic<bool> budgetCheckPending_{false}; // an enforceBudget() is posted and has not run yet
};

namespace {

// One client connection, from the TLS handshake to the end. Lives as long as one of its handlers
// is pending or the server's table holds it. Runs on its serving thread: every member function is
// called there, except the constructor (on the hub thread) and id(), queuedBytes() and run(), which
// any thread may call.
class Session : public std::enable_shared_from_this<Session> {
public:
    Session(tcp::socket socket, AddressLimit::Slot slot, WssServer::Impl& server, ConnectionId id)
        : slot_(std::move(slot)), handshakeTimer_(socket.get_executor()),
          ws_(std::move(socket), server.tls_.native_handle()), server_(server), id_(id)
    {
    }

    ConnectionId id() const { return id_; }
    void start();
    void sendText(std::string text);
    void sendBinary(SharedBytes bytes);
    void requestClose(websocket::close_code code);
    // Ends the connection at once, without a closing handshake.
    void abort();
    // What this connection has read and handed to the hub's thread, not yet taken there: reading waits
    // while it is over kMaxAtHub, so that a connection cannot read faster than the hub takes.
    void handedToHub(std::size_t bytes) { atHub_ += bytes; }
    // On the hub's thread, once it has taken `bytes`.
    void takenByHub(std::size_t bytes);
    std::size_t queuedBytes() const { return accounted_.load(std::memory_order_relaxed); }
    // Runs task on this connection's serving thread: at once when called there, else posted.
    template <typename Task>
    void run(Task task)
    {
        asio::dispatch(ws_.get_executor(), std::move(task));
    }

private:
    void onTlsHandshake(const beast::error_code& ec);
    void onRequest(const beast::error_code& ec);
    void refuseRequest(http::status status);
    void onAccept(const beast::error_code& ec);
    void read();
    void onRead(const beast::error_code& ec);
    void pump();
    void onWritten(const beast::error_code& ec);
    void finish();
    void dropQueue();
    // Tells the server's budget what this connection holds now.
    void account();

    tcp::socket& socket() { return ws_.next_layer().socket(); }

    AddressLimit::Slot slot_; // released with the socket
    asio::steady_timer handshakeTimer_; // from accept to the WebSocket upgrade
    websocket::stream<TlsStream> ws_;
    WssServer::Impl& server_;
    ConnectionId id_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::empty_body>> parser_;
    SendQueue queue_{server_.limits_.queue};
    SendQueue::Item inFlight_;
    std::size_t inFlightBytes_ = 0;
    std::atomic<std::size_t> accounted_{0}; // what the budget counts for this connection
    bool open_ = false;
    bool gone_ = false;
    bool aborted_ = false;
    bool reading_ = false;
    std::atomic<std::size_t> atHub_{0};
    std::atomic<bool> waitingForHub_{false}; // read() found atHub_ over the limit
    bool writing_ = false;
    bool closeRequested_ = false;
    bool closeSent_ = false;
    websocket::close_code closeCode_ = websocket::close_code::normal;
};

void Session::start()
{
    handshakeTimer_.expires_after(server_.limits_.handshakeTimeout);
    handshakeTimer_.async_wait([weak = weak_from_this()](const beast::error_code& ec) {
        if (auto self = weak.lock(); self && !ec) {
            beast::error_code ignored;
            self->socket().close(ignored);
        }
    });
    ws_.next_layer().async_handshake(
        [self = shared_from_this()](const beast::error_code& ec, std::size_t) { self->onTlsHandshake(ec); });
}

void Session::onTlsHandshake(const beast::error_code& ec)
{
    if (ec) {
        return;
    }
    parser_.emplace();
    parser_->header_limit(8 * 1024);
    http::async_read(ws_.next_layer(), buffer_, *parser_,
        [self = shared_from_this()](const beast::error_code& ec, std::size_t) { self->onRequest(ec); });
}

void Session::onRequest(const beast::error_code& ec)
{
    if (ec) {
        return;
    }
    buffer_.consume(buffer_.size()); // nothing may come before the upgrade is answered
    const auto& request = parser_->get();
    const std::string_view target = request.target();
    const std::string_view path = target.substr(0, target.find('?'));
    if (path != "/ws") {
        refuseRequest(http::status::not_found);
        return;
    }
    if (!websocket::is_upgrade(request)) {
        refuseRequest(http::status::upgrade_required);
        return;
    }
    handshakeTimer_.cancel();
    websocket::stream_base::timeout timeouts{};
    timeouts.handshake_timeout = server_.limits_.handshakeTimeout;
    timeouts.idle_timeout = server_.limits_.idleTimeout;
    timeouts.keep_alive_pings = true;
    ws_.set_option(timeouts);
    ws_.set_option(websocket::stream_base::decorator(
        [](websocket::response_type& response) { response.set(http::field::server, "tavoro-rendezvous"); }));
    ws_.read_message_max(server_.limits_.maxBinaryBytes);
    ws_.auto_fragment(false);
    // A client's close frame ends the connection for the hub at once (its ID is free again), not only
    // after the closing handshake and the TLS shutdown have run their course.
    ws_.control_callback([weak = weak_from_this()](websocket::frame_type kind, auto) {
        if (auto self = weak.lock(); self && kind == websocket::frame_type::close) {
            self->finish();
        }
    });
    ws_.async_accept(request, [self = shared_from_this()](const beast::error_code& ec) { self->onAccept(ec); });
}

void Session::refuseRequest(http::status status)
{
    auto response = std::make_shared<http::response<http::string_body>>(status, parser_->get().version());
    response->set(http::field::server, "tavoro-rendezvous");
    response->set(http::field::content_type, "text/plain");
    if (status == http::status::upgrade_required) {
        response->set(http::field::upgrade, "websocket");
    }
    response->body() = std::string(http::obsolete_reason(status)) + "\n";
    response->keep_alive(false);
    response->prepare_payload();
    http::async_write(ws_.next_layer(), *response,
        [self = shared_from_this(), response](const beast::error_code&, std::size_t) {
            self->ws_.next_layer().async_shutdown([self](const beast::error_code&, std::size_t) {
                beast::error_code ignored;
                self->socket().close(ignored);
            });
        });
}

void Session::onAccept(const beast::error_code& ec)
{
    parser_.reset();
    if (ec || server_.stopping_) {
        return;
    }
    beast::error_code ignored;
    const auto remote = socket().remote_endpoint(ignored);
    ConnectionInfo info{endpointText(remote), unmappedAddress(socket().local_endpoint(ignored).address()),
        unmappedAddress(remote.address())};
    open_ = true;
    server_.opened(shared_from_this(), std::move(info));
    read();
}

void Session::read()
{
    if (gone_ || reading_ || closeRequested_) {
        return;
    }
    if (atHub_ > kMaxAtHub) {
        waitingForHub_ = true;
        if (atHub_ > kMaxAtHub) { // else the hub took it all meanwhile and may not have seen the flag
            return;
        }
        waitingForHub_ = false;
    }
    reading_ = true;
    ws_.async_read(buffer_, [self = shared_from_this()](const beast::error_code& ec, std::size_t) { self->onRead(ec); });
}

void Session::onRead(const beast::error_code& ec)
{
    reading_ = false;
    if (ec) {
        finish();
        return;
    }
    if (ws_.got_text()) {
        if (buffer_.size() > server_.limits_.maxTextBytes) {
            logLine(id_, "sent a text message over the size limit; closing");
            requestClose(websocket::close_code::too_big);
        } else {
            const auto data = buffer_.cdata();
            server_.text(shared_from_this(), std::string_view(static_cast<const char*>(data.data()), data.size()));
        }
    } else {
        const auto data = buffer_.cdata();
        const auto* begin = static_cast<const std::uint8_t*>(data.data());
        server_.binary(shared_from_this(), std::make_shared<const std::vector<std::uint8_t>>(begin, begin + data.size()));
    }
    // Given back after every message: most connections are idle most of the time, and a buffer kept
    // for each would cost more than allocating one per message.
    buffer_.consume(buffer_.size());
    buffer_.shrink_to_fit();
    read();
}

void Session::takenByHub(std::size_t bytes)
{
    atHub_ -= bytes;
    if (waitingForHub_.exchange(false)) {
        run([self = shared_from_this()] { self->read(); });
    }
}

void Session::sendText(std::string text)
{
    if (gone_ || aborted_ || closeRequested_) {
        return;
    }
    if (queue_.pushText(std::move(text)) == SendQueue::Push::overflow) {
        logLine(id_, "cannot keep up with its text messages; closing");
        abort();
        return;
    }
    account();
    pump();
}

void Session::sendBinary(SharedBytes bytes)
{
    if (gone_ || aborted_ || closeRequested_) {
        return;
    }
    if (queue_.pushBinary(std::move(bytes)) == SendQueue::Push::queued) {
        account();
    }
    pump();
}

void Session::requestClose(websocket::close_code code)
{
    if (gone_ || aborted_ || closeRequested_) {
        return;
    }
    closeRequested_ = true;
    closeCode_ = code;
    pump();
}

void Session::pump()
{
    if (writing_ || gone_ || aborted_ || !open_) {
        return;
    }
    if (auto item = queue_.pop()) {
        writing_ = true;
        inFlight_ = std::move(*item);
        inFlightBytes_ = SendQueue::costOf(inFlight_);
        account();
        asio::const_buffer buffer;
        if (const auto* text = std::get_if<std::string>(&inFlight_)) {
            ws_.text(true);
            buffer = asio::buffer(*text);
        } else {
            const auto& bytes = std::get<SharedBytes>(inFlight_);
            ws_.binary(true);
            buffer = asio::buffer(*bytes);
        }
        ws_.async_write(buffer, [self = shared_from_this()](const beast::error_code& ec, std::size_t) { self->onWritten(ec); });
        return;
    }
    if (closeRequested_ && !closeSent_) {
        closeSent_ = true;
        writing_ = true;
        ws_.async_close(closeCode_, [self = shared_from_this()](const beast::error_code&) {
            self->writing_ = false;
            self->finish();
        });
        // A connection the hub closed is gone for it at once (its ID is free again), not only once the
        // closing handshake and the TCP teardown with a client that may linger are over. Shutdown
        // still waits for those, so that "going away" reaches every client before the threads stop.
        if (closeCode_ != websocket::close_code::going_away) {
            finish();
        }
    }
}

void Session::onWritten(const beast::error_code& ec)
{
    writing_ = false;
    inFlight_ = std::string();
    inFlightBytes_ = 0;
    account();
    if (ec) {
        abort();
        return;
    }
    pump();
}

void Session::account()
{
    const std::size_t held = queue_.queuedBytes() + inFlightBytes_;
    const std::size_t before = accounted_.exchange(held, std::memory_order_relaxed);
    if (held != before) {
        server_.requeued(before, held);
    }
}

// What can no longer be written is given back at once, not when the last handler lets go of this.
void Session::dropQueue()
{
    queue_.clear();
    inFlightBytes_ = 0; // freed as soon as the aborted write's handler runs
    account();
}

// Ends the connection at once, without a closing handshake. The hub hears of it from a handler of its
// own, never from inside the sink call that caused it.
void Session::abort()
{
    if (aborted_) {
        return;
    }
    aborted_ = true;
    dropQueue();
    beast::error_code ignored;
    socket().close(ignored);
    handshakeTimer_.cancel();
    asio::post(ws_.get_executor(), [self = shared_from_this()] { self->finish(); });
}

void Session::finish()
{
    if (gone_) {
        return;
    }
    gone_ = true;
    dropQueue();
    if (open_) {
        server_.gone(id_);
    }
}

} // namespace

Result<> WssServer::Impl::setUpTls(const tls::PemIdentity& identity)
{
    beast::error_code ec;
    tls_.set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 | ssl::context::no_sslv3
        | ssl::context::no_tlsv1 | ssl::context::no_tlsv1_1 | ssl::context::single_dh_use, ec);
    tls_.use_certificate_chain(asio::buffer(identity.certificatePem), ec);
    if (ec) {
        return Failure{"certificate: " + ec.message()};
    }
    tls_.use_private_key(asio::buffer(identity.privateKeyPem), ssl::context::pem, ec);
    if (ec || SSL_CTX_check_private_key(tls_.native_handle()) != 1) {
        return Failure{"private key: " + (ec ? ec.message() : std::string("does not match the certificate"))};
    }
    // Idle connections give their TLS record buffers back: most connections are idle most of the time.
    SSL_CTX_set_mode(tls_.native_handle(), SSL_MODE_RELEASE_BUFFERS);
    return {};
}

Result<> WssServer::Impl::listen(const std::string& address, std::uint16_t port)
{
    beast::error_code ec;
    const tcp::endpoint endpoint(asio::ip::make_address(address, ec), port);
    if (!ec) {
        acceptor_.open(endpoint.protocol(), ec);
    }
    if (!ec) {
        acceptor_.set_option(asio::socket_base::reuse_address(true), ec);
        if (endpoint.address().is_v6()) {
            acceptor_.set_option(asio::ip::v6_only(false), ec);
        }
        acceptor_.bind(endpoint, ec);
    }
    if (!ec) {
        acceptor_.listen(asio::socket_base::max_listen_connections, ec);
    }
    if (ec) {
        Failure failure{"listen " + address + ":" + std::to_string(port) + ": " + ec.message()};
        acceptor_.close(ec);
        return failure;
    }
    port_ = acceptor_.local_endpoint(ec).port();
    accept();
    return {};
}

void WssServer::Impl::accept()
{
    asio::io_context& serving = serving_[nextServing_++ % serving_.size()];
    acceptor_.async_accept(serving, [this](const beast::error_code& ec, tcp::socket socket) {
        if (ec == asio::error::operation_aborted || !acceptor_.is_open()) {
            return;
        }
        if (ec) {
            onAcceptFailed(ec);
            return;
        }
        onAccepted(std::move(socket));
        accept();
    });
}

void WssServer::Impl::onAccepted(tcp::socket socket)
{
    beast::error_code ec;
    const auto remote = socket.remote_endpoint(ec);
    if (ec) {
        return; // already gone
    }
    const std::string address = unmappedAddress(remote.address());
    auto slot = addresses_.take(address);
    if (!slot) {
        if (auto count = refusedAddressLog_.occurred(now())) {
            log::warn("Tavoro rendezvous: " + address + " holds " + std::to_string(limits_.maxPerAddress)
                + " connections, the most one address may; refused " + std::to_string(*count)
                + " connection(s) from addresses at the limit since the last such line");
        }
        socket.close(ec);
        return;
    }
    socket.set_option(tcp::no_delay(true), ec);
    auto session = std::make_shared<Session>(std::move(socket), std::move(*slot), *this, ++nextId_);
    session->run([session] { session->start(); });
}

void WssServer::Impl::onAcceptFailed(const beast::error_code& ec)
{
    if (!outOfDescriptors(ec)) {
        if (acceptFailedLog_.occurred(now())) {
            log::warn("Tavoro rendezvous: accept failed: " + ec.message());
        }
        retryAccept();
        return;
    }
    if (auto count = outOfDescriptorsLog_.occurred(now())) {
        log::warn("Tavoro rendezvous: out of file descriptors (" + ec.message() + "); refused "
            + std::to_string(*count) + " connection(s) since the last such line");
    }
    // Refused at once, the client learns it now instead of waiting for its connect to time out.
    if (reserve_.refuseOne(acceptor_.native_handle())) {
        accept();
    } else {
        retryAccept();
    }
}

void WssServer::Impl::retryAccept()
{
    acceptRetry_.expires_after(kAcceptRetry);
    acceptRetry_.async_wait([this](const beast::error_code& waitEc) {
        if (!waitEc) {
            accept();
        }
    });
}

void WssServer::Impl::opened(const std::shared_ptr<Session>& session, ConnectionInfo info)
{
    if (onHubThread()) {
        reportOpened(session, info);
        return;
    }
    asio::post(hub_, [this, session, info = std::move(info)] { reportOpened(session, info); });
}

void WssServer::Impl::reportOpened(const std::shared_ptr<Session>& session, const ConnectionInfo& info)
{
    sessions_.emplace(session->id(), session);
    events_->opened(session->id(), info);
    if (stopping_) { // opened while shutdown() was closing the others
        session->run([session] { session->requestClose(websocket::close_code::going_away); });
    }
}

void WssServer::Impl::text(const std::shared_ptr<Session>& session, std::string_view text)
{
    if (onHubThread()) {
        events_->text(session->id(), text);
        return;
    }
    session->handedToHub(text.size());
    asio::post(hub_, [this, session, owned = std::string(text)] {
        events_->text(session->id(), owned);
        session->takenByHub(owned.size());
    });
}

void WssServer::Impl::binary(const std::shared_ptr<Session>& session, SharedBytes bytes)
{
    if (onHubThread()) {
        events_->binary(session->id(), bytes);
        return;
    }
    const std::size_t size = bytes->size();
    session->handedToHub(size);
    asio::post(hub_, [this, session, bytes = std::move(bytes), size] {
        events_->binary(session->id(), bytes);
        session->takenByHub(size);
    });
}

void WssServer::Impl::gone(ConnectionId id)
{
    asio::dispatch(hub_, [this, id] { reportGone(id); });
}

void WssServer::Impl::reportGone(ConnectionId id)
{
    auto keep = find(id); // the table may hold the last reference
    sessions_.erase(id);
    events_->closed(id);
    if (keep) { // a connection ends on its own thread, like everything else it does
        keep->run([keep] {});
    }
    if (stopping_ && sessions_.empty() && shutdownDone_) {
        shutdownTimer_.cancel();
        std::exchange(shutdownDone_, {})();
    }
}

void WssServer::Impl::requeued(std::size_t before, std::size_t after)
{
    bool over = false;
    {
        std::lock_guard lock(budgetMutex_);
        if (after > before) {
            budget_.add(after - before);
            over = budget_.over();
        } else {
            budget_.remove(before - after);
        }
    }
    if (over && !budgetCheckPending_.exchange(true)) {
        asio::post(hub_, [this] {
            budgetCheckPending_ = false;
            enforceBudget();
        });
    }
}

void WssServer::Impl::enforceBudget()
{
    std::vector<std::pair<ConnectionId, std::size_t>> held;
    held.reserve(sessions_.size());
    for (const auto& [id, session] : sessions_) {
        held.emplace_back(id, session->queuedBytes());
    }
    std::vector<ConnectionId> chosen;
    {
        std::lock_guard lock(budgetMutex_);
        if (!budget_.over()) {
            return;
        }
        chosen = budget_.toClose(std::move(held));
    }
    for (const ConnectionId id : chosen) {
        logLine(id, "holds the most of the server's queued messages, which are over their budget; closing");
        auto session = find(id);
        session->run([session] { session->abort(); });
    }
}

void WssServer::Impl::tick()
{
    reserve_.refill();
    bool burstIsOver = false;
    {
        std::lock_guard lock(budgetMutex_);
        burstIsOver = budget_.burstIsOver();
    }
    if (burstIsOver) {
        ::malloc_trim(0); // a burst's freed memory otherwise stays with the process
    }
}

void WssServer::Impl::shutdown(std::function<void()> done)
{
    stopping_ = true;
    beast::error_code ignored;
    acceptor_.close(ignored);
    acceptRetry_.cancel();
    if (sessions_.empty()) {
        done();
        return;
    }
    shutdownDone_ = std::move(done);
    shutdownTimer_.expires_after(kShutdownLimit);
    shutdownTimer_.async_wait([this](const beast::error_code& ec) {
        if (!ec && shutdownDone_) {
            std::exchange(shutdownDone_, {})();
        }
    });
    std::vector<std::shared_ptr<Session>> all;
    for (const auto& [id, session] : sessions_) {
        all.push_back(session);
    }
    for (const auto& session : all) {
        session->run([session] { session->requestClose(websocket::close_code::going_away); });
    }
}

WssServer::WssServer(asio::io_context& hubContext, Contexts serving, WssLimits limits)
    : impl_(std::make_unique<Impl>(hubContext, std::move(serving), limits))
{
}

WssServer::~WssServer() = default;

Result<> WssServer::listen(const tls::PemIdentity& identity, const std::string& address, std::uint16_t port,
    ConnectionEvents& events)
{
    // OpenSSL writes the sockets with write(), which raises SIGPIPE when a peer has gone: the process
    // serving them must take that as the EPIPE it also is, not die of it.
    std::signal(SIGPIPE, SIG_IGN);
    impl_->events_ = &events;
    auto tlsReady = impl_->setUpTls(identity);
    if (!tlsReady) {
        return tlsReady;
    }
    return impl_->listen(address, port);
}

std::uint16_t WssServer::port() const { return impl_->port_; }

void WssServer::shutdown(std::function<void()> done) { impl_->shutdown(std::move(done)); }

void WssServer::sendText(ConnectionId id, std::string text)
{
    if (auto session = impl_->find(id)) {
        session->run([session, text = std::move(text)]() mutable { session->sendText(std::move(text)); });
    }
}

void WssServer::sendBinary(ConnectionId id, SharedBytes bytes)
{
    if (auto session = impl_->find(id)) {
        session->run([session, bytes = std::move(bytes)]() mutable { session->sendBinary(std::move(bytes)); });
    }
}

void WssServer::tick() { impl_->tick(); }

void WssServer::close(ConnectionId id)
{
    if (auto session = impl_->find(id)) {
        session->run([session] { session->requestClose(websocket::close_code::policy_error); });
    }
}

} // namespace tavoro::server
