// The one translation unit of the installation programs that compiles Boost.Beast.
#include "signaling/tls_websocket_connector.h"

#include "core/log.h"
#include "tls/certificate.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>

#include <openssl/x509.h>

#include <atomic>
#include <deque>

namespace tavoro::signaling {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
namespace ssl = asio::ssl;
using tcp = asio::ip::tcp;

struct TlsWebSocketConnector::Tls {
    ssl::context context{ssl::context::tls_client};
    std::string pin;
};

namespace {

constexpr std::size_t kMaxIncomingMessage = 16 * 1024 * 1024;
constexpr std::size_t kMaxQueuedBinaryBytes = 8 * 1024 * 1024;
constexpr auto kConnectTimeout = std::chrono::seconds(10);

std::string derOf(X509* cert)
{
    unsigned char* der = nullptr;
    int length = i2d_X509(cert, &der);
    if (length <= 0) {
        return {};
    }
    std::string bytes(reinterpret_cast<const char*>(der), static_cast<std::size_t>(length));
    OPENSSL_free(der);
    return bytes;
}

// Runs entirely on its io_context's thread; the public entry points post there.
class TlsWebSocketTask final : public WebSocketTask, public std::enable_shared_from_this<TlsWebSocketTask> {
public:
    TlsWebSocketTask(asio::io_context& loop, const WsUrl& url, std::shared_ptr<TlsWebSocketConnector::Tls> tls)
        : loop_(loop), url_(url), tls_(std::move(tls)), resolver_(loop), ws_(loop, tls_->context)
    {
    }

    void start(Events events) override
    {
        asio::post(loop_, [self = shared_from_this(), events = std::move(events)]() mutable {
            self->events_ = std::move(events);
            self->resolve();
        });
    }

    void sendText(std::string text) override { enqueue(Outgoing{true, std::move(text)}); }

    void sendBinary(std::vector<std::uint8_t> bytes) override
    {
        enqueue(Outgoing{false, std::string(bytes.begin(), bytes.end())});
    }

    std::uint64_t unsentBytes() const override
    {
        const auto written = writtenBytes_.load();
        return queuedBytes_.load() - written;
    }

    std::uint64_t writtenBytes() const override { return writtenBytes_.load(); }

    void cancel(std::uint16_t closeCode) override
    {
        asio::post(loop_, [self = shared_from_this(), closeCode] { self->close(closeCode); });
    }

    void finish(std::uint16_t closeCode, std::function<void()> done) override
    {
        asio::post(loop_, [self = shared_from_this(), closeCode, done = std::move(done)]() mutable {
            self->finishAfterQueue(closeCode, std::move(done));
        });
    }

private:
    static constexpr auto kFinishLimit = std::chrono::seconds(2);

    struct Outgoing {
        bool text;
        std::string data;
    };

    void enqueue(Outgoing message)
    {
        queuedBytes_ += message.data.size();
        asio::post(loop_, [self = shared_from_this(), message = std::move(message)]() mutable {
            if (self->finished_) {
                self->writtenBytes_ += message.data.size();
                return;
            }
            if (!message.text) {
                if (self->queuedBinaryBytes_ + message.data.size() > kMaxQueuedBinaryBytes) {
                    self->writtenBytes_ += message.data.size();
                    return;
                }
                self->queuedBinaryBytes_ += message.data.size();
            }
            self->queue_.push_back(std::move(message));
            self->writeNext();
        });
    }

    void resolve()
    {
        resolver_.async_resolve(url_.host, std::to_string(url_.port),
            [self = shared_from_this()](beast::error_code ec, tcp::resolver::results_type results) {
                if (ec) {
                    return self->fail(ec);
                }
                self->connect(results);
            });
    }

    void connect(const tcp::resolver::results_type& results)
    {
        beast::get_lowest_layer(ws_).expires_after(kConnectTimeout);
        beast::get_lowest_layer(ws_).async_connect(results,
            [self = shared_from_this()](beast::error_code ec, const tcp::endpoint&) {
                if (ec) {
                    return self->fail(ec);
                }
                // Small control messages must not wait for the peer's delayed acknowledgement.
                beast::error_code ignored;
                beast::get_lowest_layer(self->ws_).socket().set_option(tcp::no_delay(true), ignored);
                self->tlsHandshake();
            });
    }

    void tlsHandshake()
    {
        if (!SSL_set_tlsext_host_name(ws_.next_layer().native_handle(), url_.host.c_str())) {
            return fail(beast::error_code(static_cast<int>(::ERR_get_error()), asio::error::get_ssl_category()));
        }
        if (!tls_->pin.empty()) {
            ws_.next_layer().set_verify_mode(ssl::verify_peer);
            // The stream keeps the callback, so it must not own the task; it only runs during the
            // handshake, which the task outlives.
            ws_.next_layer().set_verify_callback([this](bool, ssl::verify_context& context) { return checkPin(context); });
        }
        ws_.next_layer().async_handshake(ssl::stream_base::client, [self = shared_from_this()](beast::error_code ec) {
            if (ec) {
                return self->fail(ec);
            }
            self->wsHandshake();
        });
    }

    // Only the server's own certificate is compared; the chain above it is not looked at.
    bool checkPin(ssl::verify_context& context)
    {
        X509_STORE_CTX* store = context.native_handle();
        if (X509_STORE_CTX_get_error_depth(store) != 0) {
            return true;
        }
        const std::string seen = tls::fingerprintOfDer(derOf(X509_STORE_CTX_get_current_cert(store)));
        if (seen == tls_->pin) {
            return true;
        }
        log::warn("Tavoro: 服务器证书指纹不符，已拒绝连接 (sha256 " + seen + ")");
        return false;
    }

    void wsHandshake()
    {
        beast::get_lowest_layer(ws_).expires_never();
        auto timeouts = websocket::stream_base::timeout::suggested(beast::role_type::client);
        timeouts.idle_timeout = std::chrono::seconds(30);
        timeouts.keep_alive_pings = true;
        ws_.set_option(timeouts);
        ws_.read_message_max(kMaxIncomingMessage);
        ws_.async_handshake(url_.hostHeader(), url_.target, [self = shared_from_this()](beast::error_code ec) {
            if (ec) {
                return self->fail(ec);
            }
            self->opened();
        });
    }

    void opened()
    {
        if (finished_) {
            return;
        }
        open_ = true;
        if (events_.onOpen) {
            events_.onOpen();
        }
        readNext();
        writeNext();
    }

    void readNext()
    {
        ws_.async_read(buffer_, [self = shared_from_this()](beast::error_code ec, std::size_t) {
            if (ec) {
                return self->fail(ec);
            }
            self->deliver();
            self->readNext();
        });
    }

    void deliver()
    {
        auto data = buffer_.cdata();
        const auto* bytes = static_cast<const std::uint8_t*>(data.data());
        if (ws_.got_text()) {
            if (events_.onText) {
                events_.onText(std::string(reinterpret_cast<const char*>(bytes), data.size()));
            }
        } else if (events_.onBinary) {
            events_.onBinary(std::vector<std::uint8_t>(bytes, bytes + data.size()));
        }
        buffer_.consume(buffer_.size());
    }

    void finishAfterQueue(std::uint16_t closeCode, std::function<void()> done)
    {
        if (finished_ || !open_) {
            close(closeCode);
            if (done) {
                done();
            }
            return;
        }
        finishing_ = Finish{closeCode, std::move(done)};
        beast::get_lowest_layer(ws_).expires_after(kFinishLimit); // a stalled peer cannot hold us longer
        writeNext();
    }

    void writeNext()
    {
        if (finishing_ && !writing_ && queue_.empty() && !finished_) {
            auto request = std::move(*finishing_);
            finishing_.reset();
            finished_ = true;
            ws_.async_close(websocket::close_reason(request.closeCode),
                [self = shared_from_this(), done = std::move(request.done)](beast::error_code) {
                    beast::get_lowest_layer(self->ws_).close();
                    if (done) {
                        done();
                    }
                });
            return;
        }
        if (!open_ || writing_ || queue_.empty() || finished_) {
            return;
        }
        writing_ = true;
        ws_.text(queue_.front().text);
        ws_.async_write(asio::buffer(queue_.front().data), [self = shared_from_this()](beast::error_code ec, std::size_t) {
            self->writing_ = false;
            if (self->finished_) {
                return;
            }
            if (ec) {
                return self->fail(ec);
            }
            if (!self->queue_.front().text) {
                self->queuedBinaryBytes_ -= self->queue_.front().data.size();
            }
            self->writtenBytes_ += self->queue_.front().data.size();
            self->queue_.pop_front();
            self->writeNext();
        });
    }

    void close(std::uint16_t closeCode)
    {
        if (finished_) {
            return;
        }
        finished_ = true;
        resolver_.cancel();
        if (!open_) {
            beast::get_lowest_layer(ws_).close();
            return;
        }
        beast::get_lowest_layer(ws_).expires_after(std::chrono::seconds(2));
        ws_.async_close(websocket::close_reason(closeCode), [self = shared_from_this()](beast::error_code) {
            beast::get_lowest_layer(self->ws_).close();
        });
    }

    void fail(beast::error_code ec)
    {
        if (finished_) {
            return;
        }
        finished_ = true;
        beast::get_lowest_layer(ws_).close();
        if (ec == websocket::error::closed) {
            if (events_.onClose) {
                events_.onClose(ws_.reason().code);
            }
        } else if (events_.onError) {
            events_.onError(ec.message());
        }
    }

    asio::io_context& loop_;
    WsUrl url_;
    std::shared_ptr<TlsWebSocketConnector::Tls> tls_;
    tcp::resolver resolver_;
    websocket::stream<beast::ssl_stream<beast::tcp_stream>> ws_;
    beast::flat_buffer buffer_;
    Events events_;
    std::deque<Outgoing> queue_;
    std::size_t queuedBinaryBytes_ = 0;
    // Any thread reads these; queued grows on the caller's thread before written catches up on ours.
    std::atomic<std::uint64_t> queuedBytes_{0};
    std::atomic<std::uint64_t> writtenBytes_{0};
    bool open_ = false;
    bool writing_ = false;
    bool finished_ = false; // lost or cancelled: nothing more is reported
    struct Finish {
        std::uint16_t closeCode;
        std::function<void()> done;
    };
    std::optional<Finish> finishing_; // close once the queue is sent
};

} // namespace

TlsWebSocketConnector::TlsWebSocketConnector(std::string pinnedSha256) : tls_(std::make_shared<Tls>())
{
    tls_->pin = std::move(pinnedSha256);
    tls_->context.set_verify_mode(ssl::verify_none);
}

TlsWebSocketConnector::~TlsWebSocketConnector() = default;

std::shared_ptr<WebSocketTask> TlsWebSocketConnector::create(asio::io_context& loop, const WsUrl& url)
{
    return std::make_shared<TlsWebSocketTask>(loop, url, tls_);
}

} // namespace tavoro::signaling
