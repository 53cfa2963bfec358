#include "core/observable.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace tavoro::core {
namespace {

TEST(Observable, AnnouncesEveryAssignmentUntilTheSubscriptionEnds)
{
    Observable<std::string> status("连接中…");
    std::vector<std::string> seen;
    auto subscription = status.subscribe([&](const std::string& value) { seen.push_back(value); });
    status.set("a");
    status.set("a");
    subscription.reset();
    status.set("b");
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "a"}));
    EXPECT_EQ(status.get(), "b");
}

TEST(Observable, AListenerMayUnsubscribeItselfWhileBeingCalled)
{
    Observable<int> value(0);
    int calls = 0;
    Observable<int>::Subscription subscription;
    subscription = value.subscribe([&](const int&) {
        ++calls;
        subscription.reset();
    });
    value.set(1);
    value.set(2);
    EXPECT_EQ(calls, 1);
}

TEST(Observable, ReadsFromOtherThreadsSeeWholeValues)
{
    Observable<std::string> text(std::string(64, 'a'));
    std::thread reader([&] {
        for (int i = 0; i < 2000; ++i) {
            auto copy = text.get();
            ASSERT_TRUE(copy == std::string(64, 'a') || copy == std::string(64, 'b'));
        }
    });
    for (int i = 0; i < 2000; ++i) {
        text.set(std::string(64, i % 2 ? 'a' : 'b'));
    }
    reader.join();
}

} // namespace
} // namespace tavoro::core
