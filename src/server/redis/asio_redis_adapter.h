#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>

#include <memory>

struct redisAsyncContext;

namespace tavoro::server::redis {

// Drives one hiredis asynchronous context from an io_context: hiredis's addRead/delRead/addWrite/
// delWrite hooks become async_wait calls on a stream_descriptor over the context's socket, and a ready
// socket becomes redisAsyncHandleRead/Write. hiredis owns (and closes) the socket; the adapter only
// waits on it. hiredis's cleanup hook detaches the adapter, after which pending waits do nothing.
// Everything runs on the io_context's thread.
class AsioRedisAdapter : public std::enable_shared_from_this<AsioRedisAdapter> {
public:
    // Installs the hooks on the context. The adapter stays alive while hiredis or a wait refers to it.
    static void attach(boost::asio::io_context& io, redisAsyncContext& context);

    AsioRedisAdapter(boost::asio::io_context& io, redisAsyncContext& context);

private:
    enum class Direction { read, write };

    void want(Direction direction, bool wanted);
    void arm(Direction direction);
    void onReady(Direction direction, const boost::system::error_code& ec);
    void detach();

    static AsioRedisAdapter& from(void* data);

    redisAsyncContext* context_; // null once hiredis has let go of the context
    boost::asio::posix::stream_descriptor socket_;
    bool wantRead_ = false;
    bool wantWrite_ = false;
    bool readArmed_ = false;
    bool writeArmed_ = false;
    std::shared_ptr<AsioRedisAdapter> selfWhileAttached_; // hiredis's reference, dropped at cleanup
};

} // namespace tavoro::server::redis
