#include "host/output_size.h"

#include <gtest/gtest.h>

namespace tavoro::host {
namespace {

TEST(CaptureOutputSize, FitsIntoQhdWithoutEnlargingAndStaysEven)
{
    struct Case {
        int width, height;
        OutputSize expected;
    };
    const Case cases[] = {
        {1920, 1080, {1920, 1080}},
        {3840, 2160, {2560, 1440}},
        {2880, 1800, {2304, 1440}},
        {3024, 1964, {2216, 1440}},
        {5120, 2880, {2560, 1440}},
        {1366, 769, {1366, 768}},
        {3840, 1080, {2560, 720}},
        {1, 1, {2, 2}},
        {0, 0, {2560, 1440}},
        {1920, 0, {2560, 1440}},
        {-5, 1080, {2560, 1440}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(captureOutputSize(c.width, c.height), c.expected) << c.width << "x" << c.height;
    }
}

} // namespace
} // namespace tavoro::host
