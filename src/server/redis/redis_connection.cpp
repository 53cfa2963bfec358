#include "server/redis/redis_connection.h"

#include "core/log.h"
#include "server/redis/asio_redis_adapter.h"

#include <boost/asio/post.hpp>
#include <hiredis/async.h>

namespace tavoro::server::redis {
namespace {

RedisConnection* owner(const redisAsyncContext* context)
{
    return static_cast<RedisConnection*>(context->data);
}

// hiredis copies the socket's error into the asynchronous context only on disconnecting, so a failed
// connect is read from the inner context.
std::string errorText(const redisAsyncContext* context, const std::string& fallback)
{
    if (context->c.err != 0 && context->c.errstr[0] != '\0') {
        return context->c.errstr;
    }
    return context->err != 0 && context->errstr != nullptr && *context->errstr != '\0' ? context->errstr : fallback;
}

} // namespace

void RedisConnection::ContextFree::operator()(redisAsyncContext* context) const
{
    context->data = nullptr; // callbacks that hiredis runs while freeing reach nobody
    redisAsyncFree(context);
}

RedisConnection::RedisConnection(boost::asio::io_context& io, core::Scheduler& scheduler, RedisUrl url,
    RedisConnectionOptions options)
    : io_(io), scheduler_(scheduler), url_(std::move(url)), options_(std::move(options)),
      backoff_(options_.firstRetry, options_.longestRetry), resolver_(io)
{
}

RedisConnection::~RedisConnection()
{
    lifetime_.reset();
    replyWatch_.reset();
    for (const auto& timer : {retry_, connectTimeout_}) {
        if (timer) {
            timer->cancel();
        }
    }
    resolver_.cancel();
    context_.reset();
    streams_.clear();
}

void RedisConnection::start()
{
    boost::asio::post(io_, [this, life = std::weak_ptr<int>(lifetime_)] {
        if (!life.expired() && phase_ == Phase::idle) {
            connectNow();
        }
    });
}

void RedisConnection::connectNow()
{
    phase_ = Phase::connecting;
    const auto attempt = ++attempt_;
    connectTimeout_ = scheduler_.after(options_.connectTimeout, [this, attempt] {
        if (attempt == attempt_ && phase_ == Phase::connecting) {
            resolver_.cancel();
            context_.reset();
            lost("no answer within " + std::to_string(options_.connectTimeout.count()) + " ms");
        }
    });
    boost::system::error_code ec;
    const auto address = boost::asio::ip::make_address(url_.host, ec);
    if (!ec) {
        open(address.to_string());
        return;
    }
    resolver_.async_resolve(url_.host, std::to_string(url_.port),
        [this, attempt, life = std::weak_ptr<int>(lifetime_)](const boost::system::error_code& error,
            const boost::asio::ip::tcp::resolver::results_type& results) {
            if (life.expired() || attempt != attempt_) {
                return;
            }
            if (error || results.empty()) {
                lost("cannot resolve " + url_.host);
                return;
            }
            open(results.begin()->endpoint().address().to_string());
        });
}

void RedisConnection::open(const std::string& address)
{
    context_.reset(redisAsyncConnect(address.c_str(), url_.port));
    if (!context_ || context_->err != 0) {
        const auto why = context_ ? errorText(context_.get(), "cannot connect") : "out of memory";
        context_.reset();
        lost(why);
        return;
    }
    context_->data = this;
    AsioRedisAdapter::attach(io_, *context_);
    redisAsyncSetConnectCallback(context_.get(), &RedisConnection::onConnect);
    redisAsyncSetDisconnectCallback(context_.get(), &RedisConnection::onDisconnect);
}

void RedisConnection::onConnect(const redisAsyncContext* context, int status)
{
    auto* self = owner(context);
    if (self == nullptr) {
        return;
    }
    if (status != REDIS_OK) {
        (void)self->context_.release(); // hiredis frees a context that failed to connect
        self->lost(errorText(context, "cannot connect"));
        return;
    }
    self->authenticate();
}

void RedisConnection::authenticate()
{
    std::vector<std::vector<std::string>> setup;
    if (!url_.password.empty()) {
        setup.push_back(url_.user.empty() ? std::vector<std::string>{"AUTH", url_.password}
                                          : std::vector<std::string>{"AUTH", url_.user, url_.password});
    }
    if (url_.db != 0) {
        setup.push_back({"SELECT", std::to_string(url_.db)});
    }
    const auto attempt = attempt_;
    setupPending_ = setup.size();
    setupError_.clear();
    if (setup.empty()) {
        setupDone(attempt, RedisReply{});
        return;
    }
    for (const auto& args : setup) {
        sendOnce(args, std::make_unique<ReplyCallback>([this, attempt](const RedisReply& reply) {
            setupDone(attempt, reply);
        }));
    }
}

void RedisConnection::setupDone(std::uint64_t attempt, const RedisReply& reply)
{
    if (attempt != attempt_ || phase_ != Phase::connecting) {
        return;
    }
    if (reply.isError()) {
        if (setupError_.empty()) {
            setupError_ = reply.text;
            redisAsyncDisconnect(context_.get());
        }
        return;
    }
    if (setupPending_ > 0) {
        --setupPending_;
    }
    if (setupPending_ == 0 && setupError_.empty()) {
        phase_ = Phase::ready;
        connectTimeout_->cancel();
        backoff_.connected();
        if (!replyWatch_) {
            replyWatch_ = std::make_unique<core::RepeatingTimer>(scheduler_, options_.replyTimeout, [this] { checkReplies(); });
        }
        report(RedisState::connected, {});
    }
}

void RedisConnection::onDisconnect(const redisAsyncContext* context, int /*status*/)
{
    auto* self = owner(context);
    if (self == nullptr) {
        return;
    }
    (void)self->context_.release(); // hiredis frees the context after this callback
    self->lost(!self->setupError_.empty() ? self->setupError_ : errorText(context, "connection closed"));
}

void RedisConnection::lost(const std::string& why)
{
    phase_ = Phase::waiting;
    ++attempt_;
    streams_.clear();
    report(RedisState::lost, why);
    retry_ = scheduler_.after(backoff_.nextDelay(), [this] {
        if (phase_ == Phase::waiting) {
            connectNow();
        }
    });
}

void RedisConnection::report(RedisState state, const std::string& why)
{
    if (reported_ == state) {
        return;
    }
    reported_ = state;
    const auto prefix = "Tavoro " + options_.name + ": ";
    if (state == RedisState::connected) {
        log::info(prefix + "connected to " + url_.redacted() + (everConnected_ ? " again" : ""));
        everConnected_ = true;
    } else {
        log::warn(prefix + "no connection to " + url_.redacted() + " (" + why + "), retrying");
    }
    if (onState_) {
        onState_(state);
    }
}

void RedisConnection::command(const std::vector<std::string>& args, ReplyCallback callback)
{
    if (phase_ != Phase::ready) {
        fail(std::move(callback), "not connected to redis");
        return;
    }
    if (inFlight_ >= options_.maxInFlight) {
        fail(std::move(callback), "too many redis commands in flight");
        return;
    }
    auto counted = std::make_unique<ReplyCallback>([this, callback](const RedisReply& reply) {
        --inFlight_;
        ++replies_;
        callback(reply);
    });
    if (sendOnce(args, std::move(counted))) {
        ++inFlight_;
    } else {
        fail(std::move(callback), "redis refused the command");
    }
}

void RedisConnection::stream(const std::vector<std::string>& args, ReplyCallback callback)
{
    if (phase_ != Phase::ready) {
        fail(std::move(callback), "not connected to redis");
        return;
    }
    auto& kept = streams_.emplace_back(std::move(callback));
    if (!dispatch(args, &RedisConnection::onStreamReply, &kept)) {
        auto refused = std::move(kept);
        streams_.pop_back();
        fail(std::move(refused), "redis refused the command");
    }
}

bool RedisConnection::sendOnce(const std::vector<std::string>& args, std::unique_ptr<ReplyCallback> callback)
{
    // hiredis holds the callback as its privdata until onReply takes it back.
    if (!dispatch(args, &RedisConnection::onReply, callback.get())) {
        return false;
    }
    (void)callback.release();
    return true;
}

bool RedisConnection::dispatch(const std::vector<std::string>& args, Thunk thunk, ReplyCallback* callback)
{
    if (args.empty() || !context_) {
        return false;
    }
    std::vector<const char*> words;
    std::vector<std::size_t> lengths;
    for (const auto& arg : args) {
        words.push_back(arg.data());
        lengths.push_back(arg.size());
    }
    return redisAsyncCommandArgv(context_.get(), thunk, callback, static_cast<int>(words.size()), words.data(),
               lengths.data())
        == REDIS_OK;
}

void RedisConnection::onReply(redisAsyncContext* context, void* reply, void* callback)
{
    const std::unique_ptr<ReplyCallback> owned(static_cast<ReplyCallback*>(callback));
    if (owner(context) == nullptr) {
        return;
    }
    (*owned)(reply != nullptr ? RedisReply::from(*static_cast<redisReply*>(reply))
                              : RedisReply::failure("connection to redis lost"));
}

void RedisConnection::onStreamReply(redisAsyncContext* context, void* reply, void* callback)
{
    if (owner(context) == nullptr || reply == nullptr) {
        return;
    }
    (*static_cast<ReplyCallback*>(callback))(RedisReply::from(*static_cast<redisReply*>(reply)));
}

// Commands in flight at the last check and not one answer since: the oldest has waited a whole
// period at least. hiredis would wait for them forever, so the context is freed, which fails them.
void RedisConnection::checkReplies()
{
    const bool stalled = phase_ == Phase::ready && waitingAtCheck_ && replies_ == repliesAtCheck_ && inFlight_ > 0;
    waitingAtCheck_ = phase_ == Phase::ready && inFlight_ > 0;
    repliesAtCheck_ = replies_;
    if (!stalled) {
        return;
    }
    setupError_ = "no answer within " + std::to_string(options_.replyTimeout.count()) + " ms";
    redisAsyncFree(context_.release()); // runs onDisconnect when it was connected
    if (phase_ == Phase::ready) {
        lost(setupError_);
    }
    waitingAtCheck_ = false;
}

void RedisConnection::fail(ReplyCallback callback, std::string why)
{
    boost::asio::post(io_, [life = std::weak_ptr<int>(lifetime_), callback = std::move(callback), why = std::move(why)] {
        if (!life.expired()) {
            callback(RedisReply::failure(why));
        }
    });
}

} // namespace tavoro::server::redis
