#include "platform/qt/qt_main_queue.h"
#include "platform/qt/qt_scheduler.h"
#include "qt/run_events.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

namespace tavoro::platform::qt {
namespace {

using namespace std::chrono_literals;
using test::runEventsFor;
using test::runEventsUntil;

TEST(QtMainQueue, RunsPostedTasksOnTheGuiThreadInOrder)
{
    QtMainQueue queue;
    std::vector<int> ran;
    bool allOnMain = true;
    bool workerIsMain = true;
    std::thread worker([&] {
        workerIsMain = queue.isMainThread();
        for (int i = 0; i < 3; ++i) {
            queue.post([&, i] {
                ran.push_back(i);
                allOnMain = allOnMain && queue.isMainThread();
            });
        }
    });
    worker.join();
    queue.post([&] { ran.push_back(3); });

    ASSERT_TRUE(runEventsUntil([&] { return ran.size() == 4; }));
    EXPECT_EQ(ran, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_TRUE(allOnMain);
    EXPECT_FALSE(workerIsMain);
    EXPECT_TRUE(queue.isMainThread());
}

TEST(QtScheduler, FiresOnTheGuiThreadWhenArmedFromAWorker)
{
    QtScheduler scheduler;
    const auto gui = std::this_thread::get_id();
    std::thread::id firedOn;
    std::thread worker([&] { scheduler.after(10ms, [&] { firedOn = std::this_thread::get_id(); }); });
    worker.join();

    ASSERT_TRUE(runEventsUntil([&] { return firedOn != std::thread::id(); }));
    EXPECT_EQ(firedOn, gui);
}

TEST(QtScheduler, CancelFromAWorkerStopsTheTimerAndReleasesItsTask)
{
    QtScheduler scheduler;
    auto token = std::make_shared<int>(0);
    std::weak_ptr<int> watch = token;
    bool fired = false;
    auto handle = scheduler.after(20ms, [&fired, token] { fired = true; });
    token.reset();

    std::thread worker([&] { handle->cancel(); });
    worker.join();

    ASSERT_TRUE(runEventsUntil([&] { return watch.expired(); }));
    runEventsFor(40ms);
    EXPECT_FALSE(fired);
}

TEST(QtScheduler, CancelAfterFiringOrAfterTheSchedulerIsGoneIsHarmless)
{
    auto scheduler = std::make_unique<QtScheduler>();
    int fired = 0;
    auto done = scheduler->after(0ms, [&] { ++fired; });
    auto pending = scheduler->after(10min, [&] { ++fired; });
    ASSERT_TRUE(runEventsUntil([&] { return fired == 1; }));

    done->cancel();
    scheduler.reset();
    pending->cancel();
    runEventsFor(10ms);
    EXPECT_EQ(fired, 1);
}

TEST(QtScheduler, DrivesARepeatingTimer)
{
    QtScheduler scheduler;
    int ticks = 0;
    core::RepeatingTimer timer(scheduler, 5ms, [&] { ++ticks; });
    ASSERT_TRUE(runEventsUntil([&] { return ticks >= 3; }));
    timer.cancel();
    const int seen = ticks;
    runEventsFor(20ms);
    EXPECT_EQ(ticks, seen);
}

} // namespace
} // namespace tavoro::platform::qt
