#pragma once

#include "core/scheduler.h"
#include "server/redis/reconnect_backoff.h"
#include "server/redis/redis_reply.h"
#include "server/redis/redis_url.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct redisAsyncContext;

namespace tavoro::server::redis {

enum class RedisState { connected, lost };

struct RedisConnectionOptions {
    std::string name = "redis"; // log lines start "Tavoro <name>: "
    std::chrono::milliseconds firstRetry{100};
    // Also how long after Redis is back a cluster node may take to route across nodes again.
    std::chrono::milliseconds longestRetry{2000};
    std::chrono::milliseconds connectTimeout{3000}; // from connecting to usable (AUTH and SELECT answered)
    std::size_t maxInFlight = 10000; // commands sent and not answered yet; more fail at once
    // Commands in flight with no answer at all for between one and two of these drop the connection
    // (a server that stopped answering, or a link that silently went away), failing them.
    std::chrono::milliseconds replyTimeout{2000};
};

// One connection to a Redis server over hiredis's asynchronous API, driven by an io_context through
// AsioRedisAdapter: no call blocks. On connecting it sends AUTH and SELECT as the URL asks, and only then
// counts as connected; an attempt not usable within connectTimeout is given up. A lost or failed
// connection is tried again after ReconnectBackoff's delay, on the injected scheduler. Commands are sent
// only while connected; any other time their callback gets an error reply at once (posted, never from
// within command()), so nothing queues up while the server is away. Commands in flight when the
// connection drops get an error reply too, and so do they when the server stops answering: see
// replyTimeout.
//
// Threading: everything, callbacks included, runs on the io_context's thread, and the scheduler must
// run its tasks there too (an AsioScheduler on the same io_context). Callbacks are never called during
// or after destruction; the connection must not be destroyed from within one of its own callbacks.
class RedisConnection {
public:
    using ReplyCallback = std::function<void(const RedisReply&)>;
    using StateCallback = std::function<void(RedisState)>;

    RedisConnection(boost::asio::io_context& io, core::Scheduler& scheduler, RedisUrl url,
        RedisConnectionOptions options = {});
    ~RedisConnection();
    RedisConnection(const RedisConnection&) = delete;
    RedisConnection& operator=(const RedisConnection&) = delete;

    // Called on every change between connected and lost (the first failed attempt counts as lost),
    // with one log line for each: "connected to URL" (with " again" once it had been connected before),
    // "no connection to URL (why), retrying". Set before start().
    void onStateChange(StateCallback callback) { onState_ = std::move(callback); }
    void start();
    bool connected() const { return phase_ == Phase::ready; }

    // Sends one command (its words, binary-safe); the callback runs once with the reply.
    void command(const std::vector<std::string>& args, ReplyCallback callback);
    // For SUBSCRIBE: the callback runs for every reply that belongs to this command (the confirmation,
    // then each message) until the connection drops; a new connection needs a new call.
    void stream(const std::vector<std::string>& args, ReplyCallback callback);

private:
    enum class Phase { idle, connecting, ready, waiting };
    struct ContextFree {
        void operator()(redisAsyncContext* context) const;
    };

    void connectNow();
    void open(const std::string& address);
    void authenticate();
    void setupDone(std::uint64_t attempt, const RedisReply& reply);
    void lost(const std::string& why);
    void report(RedisState state, const std::string& why);
    void fail(ReplyCallback callback, std::string why);
    void checkReplies();
    using Thunk = void (*)(redisAsyncContext*, void*, void*);
    bool sendOnce(const std::vector<std::string>& args, std::unique_ptr<ReplyCallback> callback);
    bool dispatch(const std::vector<std::string>& args, Thunk thunk, ReplyCallback* callback);

    static void onConnect(const redisAsyncContext* context, int status);
    static void onDisconnect(const redisAsyncContext* context, int status);
    static void onReply(redisAsyncContext* context, void* reply, void* callback);
    static void onStreamReply(redisAsyncContext* context, void* reply, void* callback);

    boost::asio::io_context& io_;
    core::Scheduler& scheduler_;
    RedisUrl url_;
    RedisConnectionOptions options_;
    ReconnectBackoff backoff_;
    StateCallback onState_;
    boost::asio::ip::tcp::resolver resolver_;
    std::unique_ptr<redisAsyncContext, ContextFree> context_; // null while there is no connection
    Phase phase_ = Phase::idle;
    std::optional<RedisState> reported_;
    bool everConnected_ = false; // the connected line says "again" after the first
    std::uint64_t attempt_ = 0;      // tells late answers to an earlier attempt (resolver, AUTH, SELECT) apart
    std::size_t setupPending_ = 0;   // AUTH/SELECT replies still awaited
    std::string setupError_;         // why AUTH or SELECT failed, for the lost line
    std::size_t inFlight_ = 0;
    std::uint64_t replies_ = 0;          // answers to commands so far
    std::uint64_t repliesAtCheck_ = 0;   // replies_ at the last checkReplies
    bool waitingAtCheck_ = false;        // commands were in flight at the last checkReplies
    std::unique_ptr<core::RepeatingTimer> replyWatch_;
    std::list<ReplyCallback> streams_; // the stream() callbacks of the current connection
    std::shared_ptr<core::TimerHandle> retry_;
    std::shared_ptr<core::TimerHandle> connectTimeout_;
    std::shared_ptr<int> lifetime_ = std::make_shared<int>(0); // expires at destruction, for posted work
};

} // namespace tavoro::server::redis
