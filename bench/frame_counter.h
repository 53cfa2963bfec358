#pragma once

// A frame counter for measuring glass-to-glass latency: an X client paints a number as a row of big
// black and white blocks (and its complement below, so that a half-painted or smeared number is
// recognised and skipped) into a window on the host's screen and notes when it painted each value;
// the controller reads the number back from the luma plane of each decoded picture.
//
// Threads: CounterPainter paints on its own thread; paintedAt may be called from any thread (a mutex
// guards the paint times). readCounter is pure.
#include "platform/h264_decoder.h"
#include "support/x_client.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace tavoro::bench {

constexpr int kCounterBits = 12;
constexpr int kCounterBlock = 64; // pixels; a multiple of the 16-pixel macroblock
constexpr int kCounterX = 64;
constexpr int kCounterY = 64;
constexpr int kCounterWidth = kCounterBits * kCounterBlock;
constexpr int kCounterHeight = 2 * kCounterBlock;
constexpr std::uint32_t kCounterMask = (1u << kCounterBits) - 1;

// The number the picture shows, or nothing when a block is neither clearly dark nor clearly light or
// the two rows disagree.
inline std::optional<std::uint32_t> readCounter(const platform::DecodedPicture& picture)
{
    const auto& luma = picture.planes[0];
    if (!luma.data || picture.width < kCounterX + kCounterWidth || picture.height < kCounterY + kCounterHeight) {
        return std::nullopt;
    }
    const auto bit = [&](int column, int row) -> std::optional<bool> {
        const int x0 = kCounterX + column * kCounterBlock + kCounterBlock / 2 - 4;
        const int y0 = kCounterY + row * kCounterBlock + kCounterBlock / 2 - 4;
        int sum = 0;
        for (int y = y0; y < y0 + 8; ++y) {
            for (int x = x0; x < x0 + 8; ++x) {
                sum += luma.data[static_cast<std::size_t>(y) * static_cast<std::size_t>(luma.stride) + static_cast<std::size_t>(x)];
            }
        }
        const int mean = sum / 64;
        if (mean > 60 && mean < 190) {
            return std::nullopt;
        }
        return mean >= 190;
    };
    std::uint32_t value = 0;
    for (int column = 0; column < kCounterBits; ++column) {
        const auto upper = bit(column, 0);
        const auto lower = bit(column, 1);
        if (!upper || !lower || *upper == *lower) {
            return std::nullopt;
        }
        value = (value << 1) | (*upper ? 1u : 0u);
    }
    return value;
}

// Paints 1, 2, 3 … at about 30 values a second, each after a random pause of 28 to 39 ms, so that the
// paint times fall on every phase of the host's capture ticks. Values wrap at 2^kCounterBits.
class CounterPainter {
public:
    explicit CounterPainter(const std::string& display) : thread_([this, display] { run(display); }) {}
    ~CounterPainter()
    {
        stop_ = true;
        thread_.join();
    }
    CounterPainter(const CounterPainter&) = delete;
    CounterPainter& operator=(const CounterPainter&) = delete;

    // When the value (of the run so far, not wrapped) was painted; nothing when it was not (yet).
    std::optional<std::chrono::steady_clock::time_point> paintedAt(std::uint32_t value) const
    {
        std::lock_guard lock(mutex_);
        return value >= 1 && value <= times_.size() ? std::optional(times_[value - 1]) : std::nullopt;
    }
    std::uint32_t painted() const
    {
        std::lock_guard lock(mutex_);
        return static_cast<std::uint32_t>(times_.size());
    }

private:
    void run(const std::string& display)
    {
        test::XClient client(display);
        const xcb_window_t window = client.window({kCounterX, kCounterY, kCounterWidth, kCounterHeight}, 0);
        const xcb_pixmap_t pixmap = xcb_generate_id(client.get());
        xcb_create_pixmap(client.get(), 24, pixmap, client.root(), kCounterWidth, kCounterHeight);
        const xcb_gcontext_t gc = xcb_generate_id(client.get());
        xcb_create_gc(client.get(), gc, window, 0, nullptr);
        std::mt19937 random(7);
        std::uniform_int_distribution<int> pauseMs(28, 39);
        for (std::uint32_t value = 1; !stop_; ++value) {
            drawInto(client, pixmap, value & kCounterMask);
            const auto now = std::chrono::steady_clock::now();
            xcb_copy_area(client.get(), pixmap, window, gc, 0, 0, 0, 0, kCounterWidth, kCounterHeight);
            client.sync();
            {
                std::lock_guard lock(mutex_);
                times_.push_back(now);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs(random)));
        }
        xcb_free_gc(client.get(), gc);
        xcb_free_pixmap(client.get(), pixmap);
    }

    static void drawInto(test::XClient& client, xcb_pixmap_t pixmap, std::uint32_t value)
    {
        client.fill(pixmap, {0, 0, kCounterWidth, kCounterHeight}, 0x000000);
        for (int column = 0; column < kCounterBits; ++column) {
            const bool one = (value >> (kCounterBits - 1 - column)) & 1u;
            client.fill(pixmap, {column * kCounterBlock, one ? 0 : kCounterBlock, kCounterBlock, kCounterBlock}, 0xFFFFFF);
        }
    }

    mutable std::mutex mutex_; // guards times_
    std::vector<std::chrono::steady_clock::time_point> times_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace tavoro::bench
