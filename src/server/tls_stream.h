#pragma once

#include <boost/asio/compose.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl/error.hpp>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <vector>

namespace tavoro::server {

// The server side of a TLS connection, with OpenSSL reading and writing the TCP socket's descriptor
// itself: no memory BIO pair and no copy buffers in between (Asio's ssl::stream keeps four of about
// 17 KiB each for every connection, busy or not). With SSL_MODE_RELEASE_BUFFERS on the context an
// idle connection holds only its SSL object. An Asio AsyncStream (async_read_some, async_write_some)
// for Beast's HTTP and WebSocket code.
//
// Threads: one at a time, like an Asio socket (the serving thread of its connection). One read and
// one write may be outstanding at once; each operation tries OpenSSL first and waits on the socket
// only when OpenSSL asks for it, and never completes from within the call that started it.
class TlsStream {
public:
    using executor_type = boost::asio::ip::tcp::socket::executor_type;
    using error_code = boost::system::error_code;

    TlsStream(boost::asio::ip::tcp::socket socket, SSL_CTX* context) : ssl_(SSL_new(context)), socket_(std::move(socket))
    {
        boost::system::error_code ignored;
        socket_.non_blocking(true, ignored); // OpenSSL reads and writes it directly: it must never block
        if (ssl_) {
            SSL_set_fd(ssl_.get(), static_cast<int>(socket_.native_handle()));
            SSL_set_accept_state(ssl_.get());
            SSL_set_read_ahead(ssl_.get(), 1); // a record's header and body in one read, not two
            SSL_set_mode(ssl_.get(), SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
            SSL_set_options(ssl_.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);
        }
    }

    executor_type get_executor() { return socket_.get_executor(); }
    boost::asio::ip::tcp::socket& socket() { return socket_; }

    template <typename Handler>
    auto async_handshake(Handler&& handler)
    {
        return run([](SSL* ssl) { return SSL_do_handshake(ssl); }, std::forward<Handler>(handler), nullptr);
    }

    template <typename MutableBuffers, typename Handler>
    auto async_read_some(const MutableBuffers& buffers, Handler&& handler)
    {
        boost::asio::mutable_buffer target;
        for (auto it = boost::asio::buffer_sequence_begin(buffers); it != boost::asio::buffer_sequence_end(buffers); ++it) {
            const boost::asio::mutable_buffer buffer = *it;
            if (buffer.size() > 0) {
                target = buffer;
                break;
            }
        }
        return run(
            [target](SSL* ssl) {
                return SSL_read(ssl, target.data(), static_cast<int>(std::min<std::size_t>(target.size(), kChunk)));
            },
            std::forward<Handler>(handler), nullptr, target.size() == 0);
    }

    // The buffers are gathered into one (up to kChunk bytes), so that a WebSocket frame's header and
    // payload go out in one TLS record.
    template <typename ConstBuffers, typename Handler>
    auto async_write_some(const ConstBuffers& buffers, Handler&& handler)
    {
        auto gathered = std::make_unique<std::vector<unsigned char>>(
            std::min<std::size_t>(boost::asio::buffer_size(buffers), kChunk));
        boost::asio::buffer_copy(boost::asio::buffer(*gathered), buffers);
        const unsigned char* data = gathered->data();
        const int size = static_cast<int>(gathered->size());
        return run([data, size](SSL* ssl) { return SSL_write(ssl, data, size); }, std::forward<Handler>(handler),
            std::move(gathered), size == 0);
    }

    // Sends close_notify; does not wait for the peer's.
    template <typename Handler>
    auto async_shutdown(Handler&& handler)
    {
        return run(
            [](SSL* ssl) {
                const int result = SSL_shutdown(ssl);
                return result >= 0 ? 1 : result;
            },
            std::forward<Handler>(handler), nullptr);
    }

private:
    static constexpr std::size_t kChunk = 16 * 1024;

    struct SslFree {
        void operator()(SSL* ssl) const { SSL_free(ssl); }
    };

    // Calls step (an OpenSSL call on the SSL object) until it succeeds or fails, waiting on the
    // socket whenever OpenSSL wants to read or write it. `keep` lives as long as the operation.
    template <typename Step>
    struct Operation {
        TlsStream& stream;
        Step step;
        std::unique_ptr<std::vector<unsigned char>> keep;
        bool nothingToDo = false; // a read or write of no bytes
        bool started = false;

        template <typename Self>
        void operator()(Self& self, error_code ec = {})
        {
            if (!started) {
                started = true;
                boost::asio::post(stream.get_executor(), std::move(self));
                return;
            }
            if (ec || nothingToDo) {
                self.complete(ec, 0);
                return;
            }
            // Closed meanwhile: its descriptor's number may already belong to another connection.
            if (!stream.socket_.is_open()) {
                self.complete(boost::asio::error::operation_aborted, 0);
                return;
            }
            SSL* ssl = stream.ssl_.get();
            if (!ssl) {
                self.complete(boost::asio::error::no_memory, 0);
                return;
            }
            ERR_clear_error();
            errno = 0;
            const int result = step(ssl);
            if (result > 0) {
                self.complete({}, static_cast<std::size_t>(result));
                return;
            }
            using boost::asio::ip::tcp;
            switch (SSL_get_error(ssl, result)) {
            case SSL_ERROR_WANT_READ:
                stream.socket_.async_wait(tcp::socket::wait_read, std::move(self));
                return;
            case SSL_ERROR_WANT_WRITE:
                stream.socket_.async_wait(tcp::socket::wait_write, std::move(self));
                return;
            case SSL_ERROR_ZERO_RETURN:
                self.complete(boost::asio::error::eof, 0);
                return;
            case SSL_ERROR_SYSCALL:
                self.complete(errno == 0 ? error_code(boost::asio::error::eof)
                                         : error_code(errno, boost::system::system_category()),
                    0);
                return;
            default:
                self.complete(error_code(static_cast<int>(ERR_get_error()), boost::asio::error::get_ssl_category()), 0);
                return;
            }
        }
    };

    template <typename Step, typename Handler>
    auto run(Step step, Handler&& handler, std::unique_ptr<std::vector<unsigned char>> keep, bool nothingToDo = false)
    {
        return boost::asio::async_compose<Handler, void(error_code, std::size_t)>(
            Operation<Step>{*this, std::move(step), std::move(keep), nothingToDo}, handler, socket_);
    }

    std::unique_ptr<SSL, SslFree> ssl_; // empty when OpenSSL was out of memory
    boost::asio::ip::tcp::socket socket_;
};

} // namespace tavoro::server
