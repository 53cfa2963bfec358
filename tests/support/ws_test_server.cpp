// Boost.Beast server side for tests only.
#include "support/ws_test_server.h"

#include "core/event_loop.h"
#include "support/wait.h"
#include "tls/certificate.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>

#include <deque>
#include <future>
#include <mutex>
#include <stdexcept>

namespace tavoro::test {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
namespace ssl = asio::ssl;
using tcp = asio::ip::tcp;

namespace {

struct Record {
    std::vector<std::string> texts;
    std::vector<std::vector<std::uint8_t>> binaries;
};

class Session : public std::enable_shared_from_this<Session> {
public:
    Session(tcp::socket socket, ssl::context& context, std::function<void(bool, std::string)> onMessage)
        : ws_(std::move(socket), context), onMessage_(std::move(onMessage))
    {
    }

    void run()
    {
        beast::error_code ignored;
        beast::get_lowest_layer(ws_).set_option(tcp::no_delay(true), ignored);
        ws_.next_layer().async_handshake(ssl::stream_base::server, [self = shared_from_this()](beast::error_code ec) {
            if (ec) {
                return;
            }
            self->ws_.async_accept([self](beast::error_code acceptEc) {
                if (!acceptEc) {
                    self->read();
                }
            });
        });
    }

    void send(bool text, std::string data)
    {
        queue_.push_back({text, std::move(data)});
        if (queue_.size() == 1) {
            write();
        }
    }

    void close(std::uint16_t code)
    {
        ws_.async_close(websocket::close_reason(code), [self = shared_from_this()](beast::error_code) {});
    }

    void drop()
    {
        beast::error_code ignored;
        beast::get_lowest_layer(ws_).shutdown(tcp::socket::shutdown_both, ignored);
        beast::get_lowest_layer(ws_).close(ignored);
    }

private:
    void read()
    {
        ws_.async_read(buffer_, [self = shared_from_this()](beast::error_code ec, std::size_t) {
            if (ec) {
                return;
            }
            self->onMessage_(self->ws_.got_text(), beast::buffers_to_string(self->buffer_.data()));
            self->buffer_.consume(self->buffer_.size());
            self->read();
        });
    }

    void write()
    {
        ws_.text(queue_.front().first);
        ws_.async_write(asio::buffer(queue_.front().second), [self = shared_from_this()](beast::error_code ec, std::size_t) {
            if (ec) {
                return;
            }
            self->queue_.pop_front();
            if (!self->queue_.empty()) {
                self->write();
            }
        });
    }

    websocket::stream<ssl::stream<tcp::socket>> ws_;
    beast::flat_buffer buffer_;
    std::deque<std::pair<bool, std::string>> queue_;
    std::function<void(bool, std::string)> onMessage_;
};

} // namespace

struct WsTestServer::Impl : std::enable_shared_from_this<Impl> {
    ssl::context context{ssl::context::tls_server};
    std::string fingerprint;
    std::uint16_t port = 0;
    std::unique_ptr<tcp::acceptor> acceptor; // loop thread only

    mutable std::mutex mutex; // guards records, sessions, echo
    std::vector<Record> records;
    std::vector<std::shared_ptr<Session>> sessions;
    bool echo = false;

    core::EventLoopThread loop{"test.wsserver"}; // last: stopped first

    void openAcceptor()
    {
        acceptor = std::make_unique<tcp::acceptor>(loop.context());
        tcp::endpoint endpoint(asio::ip::make_address("127.0.0.1"), port);
        acceptor->open(endpoint.protocol());
        acceptor->set_option(asio::socket_base::reuse_address(true));
        acceptor->bind(endpoint);
        acceptor->listen();
        port = acceptor->local_endpoint().port();
        accept();
    }

    void accept()
    {
        // The loop is stopped before the Impl goes, so the handler may hold it plainly.
        acceptor->async_accept([this](beast::error_code ec, tcp::socket socket) {
            if (ec) {
                return;
            }
            start(std::move(socket));
            accept();
        });
    }

    void start(tcp::socket socket)
    {
        std::lock_guard lock(mutex);
        const std::size_t index = records.size();
        records.emplace_back();
        std::weak_ptr<Impl> weak = shared_from_this();
        auto session = std::make_shared<Session>(std::move(socket), context, [weak, index](bool text, std::string data) {
            if (auto self = weak.lock()) {
                self->received(index, text, std::move(data));
            }
        });
        sessions.push_back(session);
        session->run();
    }

    void received(std::size_t index, bool text, std::string data)
    {
        std::shared_ptr<Session> echoTo;
        {
            std::lock_guard lock(mutex);
            if (text) {
                records[index].texts.push_back(data);
            } else {
                records[index].binaries.emplace_back(data.begin(), data.end());
            }
            if (echo && text) {
                echoTo = sessions[index];
            }
        }
        if (echoTo) {
            echoTo->send(true, std::move(data));
        }
    }

    // Runs fn on the loop thread and waits for it.
    template <typename Fn>
    void onLoop(Fn fn)
    {
        std::promise<void> done;
        asio::post(loop.context(), [&] {
            fn();
            done.set_value();
        });
        done.get_future().wait();
    }

    std::shared_ptr<Session> session(int connection)
    {
        std::lock_guard lock(mutex);
        return sessions.at(static_cast<std::size_t>(connection));
    }
};

WsTestServer::WsTestServer() : impl_(std::make_shared<Impl>())
{
    auto identity = tls::makeSelfSigned("127.0.0.1");
    if (!identity) {
        throw std::runtime_error("could not make a test certificate");
    }
    impl_->fingerprint = tls::fingerprintOfPem(identity->certificatePem);
    impl_->context.use_certificate_chain(asio::buffer(identity->certificatePem));
    impl_->context.use_private_key(asio::buffer(identity->privateKeyPem), ssl::context::pem);
    listen();
}

WsTestServer::~WsTestServer()
{
    stopListening();
    impl_->loop.stop();
    std::lock_guard lock(impl_->mutex);
    impl_->sessions.clear();
}

std::uint16_t WsTestServer::port() const { return impl_->port; }
std::string WsTestServer::address() const { return "127.0.0.1:" + std::to_string(port()); }
std::string WsTestServer::url() const { return "wss://" + address() + "/ws"; }
std::string WsTestServer::fingerprint() const { return impl_->fingerprint; }

void WsTestServer::setEcho(bool echo)
{
    std::lock_guard lock(impl_->mutex);
    impl_->echo = echo;
}

int WsTestServer::connectionCount() const
{
    std::lock_guard lock(impl_->mutex);
    return static_cast<int>(impl_->records.size());
}

std::vector<std::string> WsTestServer::texts(int connection) const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->records.at(static_cast<std::size_t>(connection)).texts;
}

std::vector<nlohmann::json> WsTestServer::messages(int connection) const
{
    std::vector<nlohmann::json> parsed;
    for (const auto& text : texts(connection)) {
        auto value = nlohmann::json::parse(text, nullptr, false);
        if (!value.is_discarded()) {
            parsed.push_back(std::move(value));
        }
    }
    return parsed;
}

std::vector<std::vector<std::uint8_t>> WsTestServer::binaries(int connection) const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->records.at(static_cast<std::size_t>(connection)).binaries;
}

bool WsTestServer::waitForTexts(int connection, std::size_t count, std::chrono::milliseconds limit) const
{
    return waitFor([&] { return connectionCount() > connection && texts(connection).size() >= count; }, limit);
}

void WsTestServer::sendText(int connection, const std::string& text)
{
    auto session = impl_->session(connection);
    impl_->onLoop([&] { session->send(true, text); });
}

void WsTestServer::sendBinary(int connection, const std::vector<std::uint8_t>& bytes)
{
    auto session = impl_->session(connection);
    impl_->onLoop([&] { session->send(false, std::string(bytes.begin(), bytes.end())); });
}

void WsTestServer::close(int connection, std::uint16_t code)
{
    auto session = impl_->session(connection);
    impl_->onLoop([&] { session->close(code); });
}

void WsTestServer::stopListening()
{
    impl_->onLoop([this] {
        impl_->acceptor.reset();
        std::lock_guard lock(impl_->mutex);
        for (auto& session : impl_->sessions) {
            session->drop();
        }
    });
}

void WsTestServer::listen()
{
    impl_->onLoop([this] { impl_->openAcceptor(); });
}

} // namespace tavoro::test
