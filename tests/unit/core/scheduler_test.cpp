#include "core/asio_scheduler.h"
#include "core/event_loop.h"
#include "core/scheduler.h"
#include "platform/fake/manual_clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

namespace tavoro::core {
namespace {

using namespace std::chrono_literals;
using platform::fake::ManualClock;
using platform::fake::ManualScheduler;

TEST(ManualScheduler, RunsTasksInDueOrderAsTheClockAdvances)
{
    ManualClock clock;
    ManualScheduler scheduler(clock);
    std::vector<int> order;
    scheduler.after(300ms, [&] { order.push_back(3); });
    scheduler.after(100ms, [&] { order.push_back(1); });
    scheduler.after(100ms, [&] { order.push_back(2); });
    auto cancelled = scheduler.after(200ms, [&] { order.push_back(99); });
    cancelled->cancel();

    scheduler.advance(99ms);
    EXPECT_TRUE(order.empty());
    scheduler.advance(1ms);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    scheduler.advance(1s);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));

    // A task scheduled from a task runs when its time comes within the same advance.
    std::vector<SteadyTime> firedAt;
    scheduler.after(100ms, [&] {
        firedAt.push_back(clock.now());
        scheduler.after(100ms, [&] { firedAt.push_back(clock.now()); });
    });
    auto start = clock.now();
    scheduler.advance(250ms);
    EXPECT_EQ(firedAt, (std::vector<SteadyTime>{start + 100ms, start + 200ms}));
    EXPECT_EQ(clock.now() - start, 250ms);
}

TEST(RepeatingTimer, TicksEveryPeriodUntilCancelledEvenFromItsOwnTick)
{
    ManualClock clock;
    ManualScheduler scheduler(clock);
    int ticks = 0;
    std::unique_ptr<RepeatingTimer> timer;
    timer = std::make_unique<RepeatingTimer>(scheduler, 1s, [&] {
        if (++ticks == 3) {
            timer.reset(); // a tick may destroy its own timer
        }
    });
    scheduler.advance(10s);
    EXPECT_EQ(ticks, 3);
    EXPECT_EQ(scheduler.pendingCount(), 0u);
}

TEST(AsioScheduler, RunsOnTheLoopThreadAndHonoursCancel)
{
    EventLoopThread loop("test.loop");
    AsioScheduler scheduler(loop.executor());
    std::promise<bool> ranOnLoop;
    std::atomic<bool> cancelledRan{false};
    auto cancelled = scheduler.after(5ms, [&] { cancelledRan = true; });
    cancelled->cancel();
    scheduler.after(20ms, [&] { ranOnLoop.set_value(loop.isCurrentThread()); });
    auto result = ranOnLoop.get_future();
    ASSERT_EQ(result.wait_for(5s), std::future_status::ready);
    EXPECT_TRUE(result.get());
    EXPECT_FALSE(cancelledRan.load());
}

TEST(EventLoopThread, StopFinishesTheTaskInFlightDropsQueuedOnesAndIsIdempotent)
{
    EventLoopThread loop("test.loop");
    std::promise<void> started;
    std::atomic<bool> finished{false};
    std::atomic<int> queuedRan{0};
    // Holds the loop until stop() has stopped it (bounded, so a broken stop() fails instead of hanging).
    loop.post([&] {
        started.set_value();
        const auto limit = std::chrono::steady_clock::now() + 10s;
        while (!loop.context().stopped() && std::chrono::steady_clock::now() < limit) {
            std::this_thread::yield();
        }
        finished = true;
    });
    for (int i = 0; i < 3; ++i) {
        loop.post([&] { ++queuedRan; });
    }
    started.get_future().wait();
    loop.stop();
    EXPECT_TRUE(finished.load());
    EXPECT_EQ(queuedRan.load(), 0);
    loop.stop();
}

} // namespace
} // namespace tavoro::core
