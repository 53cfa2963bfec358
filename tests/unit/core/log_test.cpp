#include "core/log.h"

#include <gtest/gtest.h>

#include <thread>

namespace tavoro::log {
namespace {

TEST(LogCapture, SeesLinesFromEveryThreadWhileItLives)
{
    info("Tavoro: before");
    std::size_t afterwards = 0;
    {
        Capture capture;
        info("Tavoro p2p: 已停止");
        std::thread([] { warn("Tavoro: from a worker"); }).join();
        EXPECT_EQ(capture.lines(), (std::vector<std::string>{"Tavoro p2p: 已停止", "Tavoro: from a worker"}));
        EXPECT_EQ(capture.count("Tavoro"), 2u);
        EXPECT_FALSE(capture.contains("before"));
        Capture second;
        info("Tavoro: both");
        afterwards = second.lines().size();
    }
    info("Tavoro: after");
    EXPECT_EQ(afterwards, 1u);
}

} // namespace
} // namespace tavoro::log
