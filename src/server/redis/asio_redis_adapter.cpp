#include "server/redis/asio_redis_adapter.h"

#include <hiredis/async.h>

namespace tavoro::server::redis {

AsioRedisAdapter::AsioRedisAdapter(boost::asio::io_context& io, redisAsyncContext& context)
    : context_(&context), socket_(io, context.c.fd)
{
}

void AsioRedisAdapter::attach(boost::asio::io_context& io, redisAsyncContext& context)
{
    auto adapter = std::make_shared<AsioRedisAdapter>(io, context);
    adapter->selfWhileAttached_ = adapter;
    context.ev.data = adapter.get();
    context.ev.addRead = [](void* data) { from(data).want(Direction::read, true); };
    context.ev.delRead = [](void* data) { from(data).want(Direction::read, false); };
    context.ev.addWrite = [](void* data) { from(data).want(Direction::write, true); };
    context.ev.delWrite = [](void* data) { from(data).want(Direction::write, false); };
    context.ev.cleanup = [](void* data) { from(data).detach(); };
}

AsioRedisAdapter& AsioRedisAdapter::from(void* data)
{
    return *static_cast<AsioRedisAdapter*>(data);
}

void AsioRedisAdapter::want(Direction direction, bool wanted)
{
    (direction == Direction::read ? wantRead_ : wantWrite_) = wanted;
    if (wanted) {
        arm(direction);
    }
}

void AsioRedisAdapter::arm(Direction direction)
{
    bool& armed = direction == Direction::read ? readArmed_ : writeArmed_;
    if (armed || context_ == nullptr) {
        return;
    }
    armed = true;
    const auto type = direction == Direction::read ? boost::asio::posix::stream_descriptor::wait_read
                                                   : boost::asio::posix::stream_descriptor::wait_write;
    socket_.async_wait(type, [self = shared_from_this(), direction](const boost::system::error_code& ec) {
        self->onReady(direction, ec);
    });
}

void AsioRedisAdapter::onReady(Direction direction, const boost::system::error_code& ec)
{
    (direction == Direction::read ? readArmed_ : writeArmed_) = false;
    const bool wanted = direction == Direction::read ? wantRead_ : wantWrite_;
    if (ec || context_ == nullptr || !wanted) {
        return;
    }
    // Keeps this adapter alive even when hiredis frees the context (and so detaches us) in the call.
    const auto self = shared_from_this();
    if (direction == Direction::read) {
        redisAsyncHandleRead(context_);
    } else {
        redisAsyncHandleWrite(context_);
    }
    if (context_ != nullptr && (direction == Direction::read ? wantRead_ : wantWrite_)) {
        arm(direction);
    }
}

void AsioRedisAdapter::detach()
{
    context_ = nullptr;
    wantRead_ = false;
    wantWrite_ = false;
    // hiredis closes the socket itself; release() also ends the pending waits with operation_aborted.
    socket_.release();
    const auto lastReference = std::move(selfWhileAttached_); // may end this adapter at return

}

} // namespace tavoro::server::redis
