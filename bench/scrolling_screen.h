#pragma once

// A changing screen for the host's benchmarks: a window on an X server showing a desktop-like picture,
// scrolled by a few lines per step (a reader scrolling a page), so that every step changes the whole
// screen. All methods are for the one thread that owns the object; ScreenMover steps one on its own
// thread.
#include "support/x_client.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace tavoro::bench {

// Lines of dark "words" on white, a colour gradient band and a noisy photo-like block: text and
// texture for the encoder to work on. BGRX, width × height.
inline std::vector<std::uint8_t> desktopPicture(int width, int height)
{
    std::vector<std::uint8_t> bgrx(static_cast<std::size_t>(width) * height * 4, 0xF0);
    std::mt19937 random(1);
    const auto pixel = [&](int x, int y) { return &bgrx[(static_cast<std::size_t>(y) * width + x) * 4]; };
    for (int line = 0; line + 14 < height; line += 22) {
        for (int x = 40; x < width - 60;) {
            const int word = 12 + static_cast<int>(random() % 60);
            for (int y = line + 4; y < line + 14; ++y) {
                for (int i = 0; i < word && x + i < width; ++i) {
                    if (random() % 3 != 0) {
                        std::fill_n(pixel(x + i, y), 3, static_cast<std::uint8_t>(30 + random() % 40));
                    }
                }
            }
            x += word + 8;
        }
    }
    for (int y = height / 3; y < height / 3 + 200 && y < height; ++y) {
        for (int x = width / 2; x < width - 40; ++x) {
            auto* p = pixel(x, y);
            p[0] = static_cast<std::uint8_t>(x * 255 / width);
            p[1] = static_cast<std::uint8_t>(y * 255 / height);
            p[2] = static_cast<std::uint8_t>((x + y + random() % 24) & 0xFF);
        }
    }
    return bgrx;
}

class ScrollingScreen {
public:
    ScrollingScreen(const std::string& display, int width, int height)
        : client_(display), width_(width), height_(height)
    {
        window_ = client_.window({0, 0, width, height}, 0xFFFFFF);
        pixmap_ = xcb_generate_id(client_.get());
        xcb_create_pixmap(client_.get(), 24, pixmap_, client_.root(), static_cast<std::uint16_t>(width),
            static_cast<std::uint16_t>(2 * height));
        gc_ = xcb_generate_id(client_.get());
        xcb_create_gc(client_.get(), gc_, pixmap_, 0, nullptr);
        const auto picture = desktopPicture(width, 2 * height);
        const int rowsPerRequest = std::max(1, (200 * 1024) / (width * 4));
        for (int y = 0; y < 2 * height; y += rowsPerRequest) {
            const int rows = std::min(rowsPerRequest, 2 * height - y);
            xcb_put_image(client_.get(), XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap_, gc_, static_cast<std::uint16_t>(width),
                static_cast<std::uint16_t>(rows), 0, static_cast<std::int16_t>(y), 0, 24,
                static_cast<std::uint32_t>(rows) * width * 4, &picture[static_cast<std::size_t>(y) * width * 4]);
        }
        step();
    }

    void step()
    {
        offset_ = (offset_ + 6) % height_;
        xcb_copy_area(client_.get(), pixmap_, window_, gc_, 0, static_cast<std::int16_t>(offset_), 0, 0,
            static_cast<std::uint16_t>(width_), static_cast<std::uint16_t>(height_));
        client_.sync();
    }

private:
    test::XClient client_;
    int width_;
    int height_;
    xcb_window_t window_ = 0;
    xcb_pixmap_t pixmap_ = 0;
    xcb_gcontext_t gc_ = 0;
    int offset_ = 0;
};

// Scrolls a screen every 15 ms (about 60 steps a second) on its own thread while it exists.
class ScreenMover {
public:
    ScreenMover(const std::string& display, int width, int height)
        : thread_([this, display, width, height] {
              ScrollingScreen screen(display, width, height);
              while (!stop_) {
                  screen.step();
                  ++steps_;
                  std::this_thread::sleep_for(std::chrono::milliseconds(15));
              }
          })
    {
    }
    ~ScreenMover()
    {
        stop_ = true;
        thread_.join();
    }
    ScreenMover(const ScreenMover&) = delete;
    ScreenMover& operator=(const ScreenMover&) = delete;

    int steps() const { return steps_; }

private:
    std::atomic<bool> stop_{false};
    std::atomic<int> steps_{0};
    std::thread thread_;
};

} // namespace tavoro::bench
