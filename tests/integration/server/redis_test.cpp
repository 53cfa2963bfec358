#include "core/asio_scheduler.h"
#include "core/log.h"
#include "platform/fake/manual_clock.h"
#include "server/redis/redis_connection.h"
#include "server/redis/redis_subscriber.h"
#include "support/redis_process.h"

#include <boost/asio/executor_work_guard.hpp>
#include <gtest/gtest.h>

#include <csignal>
#include <optional>
#include <vector>

namespace tavoro::server::redis {
namespace {

using namespace std::chrono_literals;

// The connections under test and the io_context they live on, run by the test's own thread.
class RedisTest : public ::testing::Test {
protected:
    // Runs the io_context until the condition holds; false when it still does not after the limit.
    bool runUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = 5s)
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            io.run_one_for(10ms);
        }
        return true;
    }

    RedisReply call(RedisConnection& connection, const std::vector<std::string>& args)
    {
        std::optional<RedisReply> reply;
        connection.command(args, [&](const RedisReply& r) { reply = r; });
        EXPECT_TRUE(runUntil([&] { return reply.has_value(); })) << args.front();
        return reply.value_or(RedisReply::failure("no reply"));
    }

    // The delays the connection asked for before trying again, without its connect deadlines and
    // its watch over answers.
    static std::vector<std::chrono::milliseconds> retryDelays(const platform::fake::ManualScheduler& manual)
    {
        auto delays = manual.requestedDelays();
        std::erase(delays, connectTimeout);
        std::erase(delays, RedisConnectionOptions{}.replyTimeout);
        return delays;
    }

    static constexpr std::chrono::milliseconds connectTimeout = 60s;

    static RedisUrl urlOf(const std::string& text)
    {
        auto url = parseRedisUrl(text);
        EXPECT_TRUE(url) << text;
        return url ? *url : RedisUrl{};
    }

    boost::asio::io_context io;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work{io.get_executor()};
    core::AsioScheduler scheduler{io.get_executor()};
};

TEST_F(RedisTest, CommandsRoundTripAndServerErrorsComeBackAsReplies)
{
    test::RedisProcess server;
    RedisConnection connection(io, scheduler, urlOf(server.url() + "/2"));
    connection.start();
    ASSERT_TRUE(runUntil([&] { return connection.connected(); }));

    const std::string binary("va\0lue", 6);
    EXPECT_TRUE(call(connection, {"SET", "key", binary}).isString("OK"));
    EXPECT_TRUE(call(connection, {"GET", "key"}).isString(binary));
    EXPECT_EQ(call(connection, {"GET", "missing"}).kind, RedisReply::Kind::nil);
    EXPECT_EQ(call(connection, {"INCR", "counter"}).integer, 1);
    EXPECT_EQ(call(connection, {"INCR", "counter"}).integer, 2);
    const auto both = call(connection, {"MGET", "counter", "missing"});
    ASSERT_EQ(both.elements.size(), 2U);
    EXPECT_TRUE(both.elements[0].isString("2"));
    EXPECT_EQ(both.elements[1].kind, RedisReply::Kind::nil);
    const auto notANumber = call(connection, {"INCR", "key"});
    EXPECT_TRUE(notANumber.isError());
    EXPECT_NE(notANumber.text.find("not an integer"), std::string::npos);
    EXPECT_TRUE(call(connection, {"NOSUCHCOMMAND"}).isError());

    // The database from the URL was selected: database 0 does not hold the key.
    RedisConnection other(io, scheduler, urlOf(server.url()));
    other.start();
    ASSERT_TRUE(runUntil([&] { return other.connected(); }));
    EXPECT_EQ(call(other, {"GET", "key"}).kind, RedisReply::Kind::nil);
}

TEST_F(RedisTest, CallbacksNeverRunAfterDestruction)
{
    test::RedisProcess server;
    int called = 0;
    {
        RedisConnection notStarted(io, scheduler, urlOf(server.url()));
        RedisConnection connecting(io, scheduler, urlOf(server.url()));
        connecting.start();
        io.poll();
        RedisConnection busy(io, scheduler, urlOf(server.url()));
        RedisSubscriber subscriber(io, scheduler, urlOf(server.url()));
        subscriber.subscribe("routes", [&](const std::string&) { ++called; });
        busy.start();
        subscriber.start();
        ASSERT_TRUE(runUntil([&] { return busy.connected() && subscriber.connected(); }));
        busy.command({"BLPOP", "empty-list", "0"}, [&](const RedisReply&) { ++called; });
        busy.command({"PING"}, [&](const RedisReply&) { ++called; });
        notStarted.command({"PING"}, [&](const RedisReply&) { ++called; }); // its failure is posted
    }
    io.poll();
    EXPECT_EQ(called, 0);
}

TEST_F(RedisTest, SubscriberReceivesWhatAnotherConnectionPublishes)
{
    test::RedisProcess server;
    RedisConnection publisher(io, scheduler, urlOf(server.url()));
    RedisSubscriber subscriber(io, scheduler, urlOf(server.url()));
    std::vector<std::string> presence;
    std::vector<std::string> routes;
    subscriber.subscribe("presence", [&](const std::string& payload) { presence.push_back(payload); });
    publisher.start();
    subscriber.start();
    ASSERT_TRUE(runUntil([&] { return publisher.connected() && subscriber.connected(); }));
    subscriber.subscribe("routes", [&](const std::string& payload) { routes.push_back(payload); });

    // A message counts one receiver once the SUBSCRIBE has been processed.
    ASSERT_TRUE(runUntil([&] { return call(publisher, {"PUBLISH", "routes", "r1"}).integer == 1; }));
    EXPECT_EQ(call(publisher, {"PUBLISH", "presence", "123456789 online"}).integer, 1);
    EXPECT_EQ(call(publisher, {"PUBLISH", "elsewhere", "x"}).integer, 0);
    ASSERT_TRUE(runUntil([&] { return !presence.empty(); }));
    EXPECT_EQ(presence, std::vector<std::string>{"123456789 online"});
    EXPECT_EQ(routes, std::vector<std::string>{"r1"});
}

TEST_F(RedisTest, PasswordFromTheUrlIsUsedAndNeverLogged)
{
    const std::string password = "pw-4f9c2e";
    test::RedisProcess server({"--requirepass", password});
    log::Capture log;
    std::vector<RedisState> states;
    RedisConnection connection(io, scheduler, urlOf(server.url(password) + "/1"));
    connection.onStateChange([&](RedisState state) { states.push_back(state); });
    connection.start();
    ASSERT_TRUE(runUntil([&] { return connection.connected(); }));
    EXPECT_TRUE(call(connection, {"SET", "k", "v"}).isString("OK"));

    RedisConnection wrong(io, scheduler, urlOf(server.url(password + "x")));
    std::vector<RedisState> wrongStates;
    wrong.onStateChange([&](RedisState state) { wrongStates.push_back(state); });
    wrong.start();
    ASSERT_TRUE(runUntil([&] { return !wrongStates.empty(); }));
    EXPECT_EQ(wrongStates, std::vector<RedisState>{RedisState::lost});
    EXPECT_FALSE(wrong.connected());

    EXPECT_EQ(states, std::vector<RedisState>{RedisState::connected});
    EXPECT_EQ(log.count("Tavoro redis: connected to redis://:***@127.0.0.1:" + std::to_string(server.port()) + "/1"), 1U);
    EXPECT_EQ(log.count("Tavoro redis: no connection to redis://:***@127.0.0.1:"), 1U);
    for (const auto& line : log.lines()) {
        EXPECT_EQ(line.find(password), std::string::npos) << line;
    }
    EXPECT_EQ(urlOf(server.url(password)).redacted().find(password), std::string::npos);
}

TEST_F(RedisTest, ServerStoppedAndRestartedFailsFastThenRecovers)
{
    test::RedisProcess server;
    RedisConnection connection(io, scheduler, urlOf(server.url()));
    RedisSubscriber subscriber(io, scheduler, urlOf(server.url()));
    std::vector<RedisState> states;
    std::vector<RedisState> subscriberStates;
    std::vector<std::string> received;
    connection.onStateChange([&](RedisState state) { states.push_back(state); });
    subscriber.onStateChange([&](RedisState state) { subscriberStates.push_back(state); });
    subscriber.subscribe("routes", [&](const std::string& payload) { received.push_back(payload); });
    connection.start();
    subscriber.start();
    ASSERT_TRUE(runUntil([&] { return connection.connected() && subscriber.connected(); }));
    ASSERT_TRUE(runUntil([&] { return call(connection, {"PUBLISH", "routes", "before"}).integer == 1; }));

    server.stop();
    ASSERT_TRUE(runUntil([&] { return !connection.connected() && !subscriber.connected(); }));
    EXPECT_EQ(states, (std::vector<RedisState>{RedisState::connected, RedisState::lost}));
    EXPECT_EQ(subscriberStates, (std::vector<RedisState>{RedisState::connected, RedisState::lost}));
    const auto started = std::chrono::steady_clock::now();
    const auto down = call(connection, {"GET", "key"});
    EXPECT_TRUE(down.isError());
    EXPECT_LT(std::chrono::steady_clock::now() - started, 100ms);

    ASSERT_TRUE(server.restart());
    ASSERT_TRUE(runUntil([&] { return connection.connected() && subscriber.connected(); }, 5s));
    ASSERT_TRUE(runUntil([&] { return call(connection, {"PUBLISH", "routes", "after"}).integer == 1; }, 5s));
    ASSERT_TRUE(runUntil([&] { return received.size() == 2; }));
    EXPECT_EQ(received, (std::vector<std::string>{"before", "after"}));
    EXPECT_EQ(states.back(), RedisState::connected);
    EXPECT_EQ(subscriberStates.back(), RedisState::connected);
}

TEST_F(RedisTest, RetriesAfterDoublingDelaysAndStartsOverOnceConnected)
{
    test::RedisProcess server;
    server.stop();
    platform::fake::ManualClock clock;
    platform::fake::ManualScheduler manual(clock);
    log::Capture log;
    RedisConnection connection(io, manual, urlOf(server.url()),
        {.name = "redis", .firstRetry = 100ms, .longestRetry = 1000ms, .connectTimeout = connectTimeout});
    connection.start();
    const auto retriesAsked = [&](std::size_t count) {
        return runUntil([&] { return retryDelays(manual).size() == count; });
    };
    ASSERT_TRUE(retriesAsked(1));
    for (std::size_t attempt = 2; attempt <= 6; ++attempt) {
        manual.advance(retryDelays(manual).back());
        ASSERT_TRUE(retriesAsked(attempt));
    }
    EXPECT_EQ(retryDelays(manual), (std::vector<std::chrono::milliseconds>{100ms, 200ms, 400ms, 800ms, 1000ms, 1000ms}));
    EXPECT_EQ(log.count("no connection to"), 1U);

    ASSERT_TRUE(server.restart());
    manual.advance(1000ms);
    ASSERT_TRUE(runUntil([&] { return connection.connected(); }));
    server.stop();
    ASSERT_TRUE(retriesAsked(7));
    EXPECT_EQ(retryDelays(manual).back(), 100ms);
    EXPECT_EQ(log.count("no connection to"), 2U);
    EXPECT_EQ(log.count("connected to"), 1U);
}

TEST_F(RedisTest, ServerThatNeverAnswersIsGivenUpAtTheConnectDeadline)
{
    // Accepts connections into its backlog and never reads them: the AUTH stays unanswered.
    boost::asio::ip::tcp::acceptor silent(io, {boost::asio::ip::make_address("127.0.0.1"), 0});
    platform::fake::ManualClock clock;
    platform::fake::ManualScheduler manual(clock);
    log::Capture log;
    std::vector<RedisState> states;
    RedisConnection connection(io, manual,
        urlOf("redis://:pw@127.0.0.1:" + std::to_string(silent.local_endpoint().port())),
        {.name = "redis", .firstRetry = 100ms, .longestRetry = 1000ms, .connectTimeout = 3s});
    connection.onStateChange([&](RedisState state) { states.push_back(state); });
    connection.start();
    ASSERT_TRUE(runUntil([&] { return manual.pendingCount() == 1; }));
    io.poll();
    manual.advance(2999ms);
    EXPECT_TRUE(states.empty());
    manual.advance(1ms);
    EXPECT_EQ(states, std::vector<RedisState>{RedisState::lost});
    EXPECT_EQ(log.count("no answer within 3000 ms"), 1U);
    EXPECT_EQ(manual.requestedDelays().back(), 100ms);
}

TEST_F(RedisTest, ServerThatStopsAnsweringIsGivenUpAndItsCommandsFail)
{
    test::RedisProcess server;
    platform::fake::ManualClock clock;
    platform::fake::ManualScheduler manual(clock);
    log::Capture log;
    RedisConnection connection(io, manual, urlOf(server.url()),
        {.name = "redis", .connectTimeout = connectTimeout, .replyTimeout = 2s});
    connection.start();
    ASSERT_TRUE(runUntil([&] { return connection.connected(); }));
    manual.advance(2s);
    EXPECT_EQ(call(connection, {"PING"}).text, "PONG") << "an answered command keeps the connection";

    ASSERT_EQ(::kill(server.pid(), SIGSTOP), 0);
    std::optional<RedisReply> reply;
    connection.command({"GET", "key"}, [&](const RedisReply& r) { reply = r; });
    io.poll();
    manual.advance(2s);
    EXPECT_TRUE(connection.connected()) << "waiting less than a whole period";
    manual.advance(2s);
    EXPECT_FALSE(connection.connected());
    ASSERT_TRUE(reply.has_value());
    EXPECT_TRUE(reply->isError());
    EXPECT_EQ(log.count("no answer within 2000 ms"), 1U);

    ASSERT_EQ(::kill(server.pid(), SIGCONT), 0);
    manual.advance(100ms);
    ASSERT_TRUE(runUntil([&] { return connection.connected(); }));
    EXPECT_EQ(call(connection, {"PING"}).text, "PONG");
}

} // namespace
} // namespace tavoro::server::redis
