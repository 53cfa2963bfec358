#include "platform/linux/change_tracker.h"
#include "platform/linux/cursor_overlay.h"
#include "platform/linux/pixel_buffer_pool.h"

#include <gtest/gtest.h>

#include <thread>

namespace tavoro::platform {
namespace {

TEST(ChangeTracker, OnlyChangesOnItsDisplayAskForAPicture)
{
    ChangeTracker tracker({1920, 0, 1920, 1080});
    EXPECT_TRUE(tracker.pending()) << "the first picture always goes out";
    tracker.delivered();

    const DisplayRect elsewhere[] = {{0, 0, 1920, 1080}, {100, 1080, 50, 50}};
    tracker.damaged(elsewhere);
    EXPECT_FALSE(tracker.pending());
    const DisplayRect touching[] = {{0, 0, 10, 10}, {1919, 500, 2, 2}};
    tracker.damaged(touching);
    EXPECT_TRUE(tracker.pending());
    tracker.delivered();

    tracker.request();
    EXPECT_TRUE(tracker.pending());
    tracker.delivered();
    tracker.damagedSomewhere();
    EXPECT_TRUE(tracker.pending());
}

TEST(ChangeTracker, CursorMovesCountOnlyOverTheDisplay)
{
    ChangeTracker tracker({1920, 0, 1920, 1080});
    tracker.cursorAt({100, 100, 24, 24}, 1);
    tracker.delivered();
    tracker.cursorAt({200, 100, 24, 24}, 1);
    EXPECT_FALSE(tracker.pending()) << "moves on another display";
    tracker.cursorAt({2000, 100, 24, 24}, 1);
    EXPECT_TRUE(tracker.pending()) << "entering the display";
    tracker.delivered();
    tracker.cursorAt({2000, 100, 24, 24}, 1);
    EXPECT_FALSE(tracker.pending()) << "a still pointer";
    tracker.cursorAt({2000, 100, 24, 24}, 2);
    EXPECT_TRUE(tracker.pending()) << "a new cursor shape";
    tracker.delivered();
    tracker.cursorAt({100, 100, 24, 24}, 2);
    EXPECT_TRUE(tracker.pending()) << "leaving the display removes the cursor from its picture";
}

TEST(CursorOverlay, BlendsPremultipliedPixelsAndClipsAtTheEdges)
{
    std::vector<std::uint8_t> pixels(4 * 4 * 4, 100); // 4 × 4 BGRX, all channels 100
    const ImageView image{pixels.data(), 16, 4, 4};
    const std::uint32_t cursor[] = {
        0xFFFF0000, 0x00000000, // opaque red, transparent
        0x80400000, 0xFF00FF00, // half-transparent premultiplied red, opaque green
    };
    // Cursor at root (9, 19); the image starts at root (10, 20): only its lower right pixel lands, on (0, 0).
    drawCursor(image, 10, 20, {{9, 19, 2, 2}, cursor, 1});
    EXPECT_EQ(std::vector<std::uint8_t>(pixels.begin(), pixels.begin() + 3), (std::vector<std::uint8_t>{0, 255, 0}));
    EXPECT_EQ(pixels[4], 100);

    // Fully inside at (2, 2).
    drawCursor(image, 0, 0, {{2, 2, 2, 2}, cursor, 1});
    const auto at = [&](int x, int y) { return &pixels[static_cast<std::size_t>(y * 16 + x * 4)]; };
    EXPECT_EQ(std::vector<std::uint8_t>(at(2, 2), at(2, 2) + 3), (std::vector<std::uint8_t>{0, 0, 255}));
    EXPECT_EQ(std::vector<std::uint8_t>(at(3, 2), at(3, 2) + 3), (std::vector<std::uint8_t>{100, 100, 100}));
    EXPECT_EQ(std::vector<std::uint8_t>(at(2, 3), at(2, 3) + 3), (std::vector<std::uint8_t>{50, 50, 114}));

    // Entirely outside: nothing is touched.
    auto before = pixels;
    drawCursor(image, 0, 0, {{4, 0, 2, 2}, cursor, 1});
    drawCursor(image, 0, 0, {{-2, -2, 2, 2}, cursor, 1});
    EXPECT_EQ(pixels, before);
}

TEST(PixelBufferPool, BoundsBuffersInFlightAndReusesReturnedOnes)
{
    PixelBufferPool pool(2);
    auto a = pool.acquire(8, 8);
    auto b = pool.acquire(8, 8);
    ASSERT_TRUE(a && b);
    EXPECT_FALSE(pool.acquire(8, 8));
    const auto* reused = a.get();
    std::thread([moved = std::move(a)]() mutable { moved.reset(); }).join();
    auto c = pool.acquire(8, 8);
    EXPECT_EQ(c.get(), reused);
    b.reset();
    c.reset();
    {
        PixelBufferPool shortLived(1);
        a = shortLived.acquire(4, 4);
    }
    a.reset(); // returns into storage that outlived its pool
}

} // namespace
} // namespace tavoro::platform
