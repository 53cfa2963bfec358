// The test tree's only translation unit that includes Boost.Beast.
#include "support/wss_test_client.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>

#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <variant>

namespace tavoro::test {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace ssl = asio::ssl;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

namespace {

ssl::context& clientTlsContext()
{
    static ssl::context context = [] {
        ssl::context c(ssl::context::tls_client);
        c.set_verify_mode(ssl::verify_none);
        return c;
    }();
    return context;
}

} // namespace

// Everything the loop thread touches, kept alive by its pending handlers.
struct WssTestClient::State : std::enable_shared_from_this<State> {
    State(core::EventLoopThread& l, Options o) : loop(l), options(std::move(o)), ws(l.context(), clientTlsContext()) {}

    using Message = std::variant<std::string, std::vector<std::uint8_t>>;

    core::EventLoopThread& loop;
    Options options;
    websocket::stream<beast::ssl_stream<beast::tcp_stream>> ws;
    beast::flat_buffer buffer;
    websocket::response_type upgradeResponse;
    std::promise<std::string> connected; // "" on success, else what failed

    // Loop thread only.
    std::deque<Message> outbox;
    bool writing = false;
    bool paused = false;
    bool reading = false;

    mutable std::mutex mutex; // guards texts, binaries, open, closedCode
    std::condition_variable changed;
    std::deque<std::string> texts;
    std::deque<std::vector<std::uint8_t>> binaries;
    bool open = false;
    std::optional<int> closedCode;

    void start()
    {
        beast::get_lowest_layer(ws).expires_after(std::chrono::seconds(10));
        beast::error_code invalid;
        const auto address = asio::ip::make_address_v4(options.address, invalid);
        if (invalid) {
            return connected.set_value("address: " + invalid.message());
        }
        const tcp::endpoint endpoint(address, options.port);
        beast::get_lowest_layer(ws).async_connect(endpoint, [self = shared_from_this()](const beast::error_code& ec) {
            if (ec) {
                return self->connected.set_value("connect: " + ec.message());
            }
            self->ws.next_layer().async_handshake(ssl::stream_base::client,
                [self](const beast::error_code& ec) { self->onTls(ec); });
        });
    }

    void onTls(const beast::error_code& ec)
    {
        if (ec) {
            return connected.set_value("tls: " + ec.message());
        }
        beast::get_lowest_layer(ws).expires_never();
        ws.set_option(websocket::stream_base::timeout::suggested(beast::role_type::client));
        ws.read_message_max(64 * 1024 * 1024);
        ws.async_handshake(upgradeResponse, options.address, options.path, [self = shared_from_this()](const beast::error_code& ec) {
            if (ec) {
                return self->connected.set_value("upgrade: " + ec.message());
            }
            {
                std::lock_guard lock(self->mutex);
                self->open = true;
            }
            self->connected.set_value("");
            self->read();
        });
    }

    void read()
    {
        if (paused || reading) {
            return;
        }
        reading = true;
        ws.async_read(buffer, [self = shared_from_this()](const beast::error_code& ec, std::size_t) { self->onRead(ec); });
    }

    void onRead(const beast::error_code& ec)
    {
        reading = false;
        if (ec) {
            std::lock_guard lock(mutex);
            open = false;
            closedCode = ec == websocket::error::closed ? static_cast<int>(ws.reason().code) : 0;
            changed.notify_all();
            return;
        }
        const auto data = buffer.cdata();
        const auto* begin = static_cast<const char*>(data.data());
        if (ws.got_text() && options.onText) {
            options.onText(std::string_view(begin, data.size()));
        } else {
            std::lock_guard lock(mutex);
            if (ws.got_text()) {
                texts.emplace_back(begin, data.size());
            } else {
                binaries.emplace_back(begin, begin + data.size());
            }
            changed.notify_all();
        }
        buffer.consume(buffer.size());
        read();
    }

    void send(Message message)
    {
        outbox.push_back(std::move(message));
        write();
    }

    void write()
    {
        if (writing || outbox.empty()) {
            return;
        }
        writing = true;
        const Message& next = outbox.front();
        asio::const_buffer bytes;
        if (const auto* text = std::get_if<std::string>(&next)) {
            ws.text(true);
            bytes = asio::buffer(*text);
        } else {
            ws.binary(true);
            bytes = asio::buffer(std::get<std::vector<std::uint8_t>>(next));
        }
        ws.async_write(bytes, [self = shared_from_this()](const beast::error_code& ec, std::size_t) {
            self->writing = false;
            self->outbox.pop_front();
            if (!ec) {
                self->write();
            }
        });
    }

    template <typename T>
    std::optional<T> next(std::deque<T>& from, std::chrono::milliseconds limit)
    {
        std::unique_lock lock(mutex);
        if (!changed.wait_for(lock, limit, [&] { return !from.empty() || !open; }) || from.empty()) {
            return std::nullopt;
        }
        T message = std::move(from.front());
        from.pop_front();
        return message;
    }
};

WssTestClient::Connected WssTestClient::connect(core::EventLoopThread& loop, Options options,
    std::chrono::milliseconds limit)
{
    auto state = std::make_shared<State>(loop, std::move(options));
    auto result = state->connected.get_future();
    loop.post([state] { state->start(); });
    Connected connected;
    if (result.wait_for(limit) != std::future_status::ready) {
        loop.post([state] { beast::get_lowest_layer(state->ws).close(); });
        connected.error = "timed out";
        return connected;
    }
    connected.error = result.get();
    connected.httpStatus = static_cast<int>(state->upgradeResponse.result_int());
    if (connected.error.empty()) {
        connected.client.reset(new WssTestClient(std::move(state)));
    } else {
        loop.post([state] { beast::get_lowest_layer(state->ws).close(); });
    }
    return connected;
}

std::unique_ptr<WssTestClient> WssTestClient::connect(core::EventLoopThread& loop, std::uint16_t port)
{
    Options options;
    options.port = port;
    return connect(loop, std::move(options)).client;
}

WssTestClient::~WssTestClient()
{
    state_->loop.post([state = state_] { beast::get_lowest_layer(state->ws).close(); });
}

void WssTestClient::sendText(std::string text)
{
    state_->loop.post([state = state_, text = std::move(text)]() mutable { state->send(std::move(text)); });
}

void WssTestClient::sendJson(const nlohmann::json& msg) { sendText(msg.dump()); }

void WssTestClient::sendBinary(std::vector<std::uint8_t> bytes)
{
    state_->loop.post([state = state_, bytes = std::move(bytes)]() mutable { state->send(std::move(bytes)); });
}

std::optional<nlohmann::json> WssTestClient::nextJson(std::chrono::milliseconds limit)
{
    auto text = state_->next(state_->texts, limit);
    if (!text) {
        return std::nullopt;
    }
    auto parsed = nlohmann::json::parse(*text, nullptr, false);
    return parsed.is_discarded() ? nlohmann::json(*text) : parsed;
}

std::optional<nlohmann::json> WssTestClient::nextOfType(const std::string& type, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (auto msg = nextJson(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()))) {
        if (msg->is_object() && msg->value("type", "") == type) {
            return msg;
        }
    }
    return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> WssTestClient::nextBinary(std::chrono::milliseconds limit)
{
    return state_->next(state_->binaries, limit);
}

std::optional<int> WssTestClient::waitClosed(std::chrono::milliseconds limit)
{
    std::unique_lock lock(state_->mutex);
    state_->changed.wait_for(lock, limit, [&] { return state_->closedCode.has_value(); });
    return state_->closedCode;
}

void WssTestClient::pauseReading()
{
    state_->loop.post([state = state_] { state->paused = true; });
}

void WssTestClient::resumeReading()
{
    state_->loop.post([state = state_] {
        state->paused = false;
        state->read();
    });
}

void WssTestClient::close()
{
    auto done = std::make_shared<std::promise<void>>();
    state_->loop.post([state = state_, done] {
        state->ws.async_close(websocket::close_code::normal, [done](const beast::error_code&) { done->set_value(); });
    });
    done->get_future().wait_for(std::chrono::seconds(5));
    waitClosed(std::chrono::seconds(5));
}

bool WssTestClient::isOpen() const
{
    std::lock_guard lock(state_->mutex);
    return state_->open;
}

bool WssTestClient::hello(const std::string& deviceId, const std::string& token, const std::string& deviceKey)
{
    nlohmann::json hello = {{"type", "hello"}, {"device_id", deviceId}, {"token", token}, {"role", "client"},
        {"version", "0.58.20"}, {"os", "linux"}};
    if (!deviceKey.empty()) {
        hello["device_key"] = deviceKey;
    }
    sendJson(hello);
    sendJson({{"type", "hello_probe"}, {"to", deviceId}});
    while (auto msg = nextJson()) {
        const std::string type = msg->is_object() ? msg->value("type", "") : "";
        if (type == "hello_probe") {
            return true;
        }
        if (type == "error") {
            return false;
        }
    }
    return false;
}

} // namespace tavoro::test
