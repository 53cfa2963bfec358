#pragma once

namespace tavoro::host {

struct OutputSize {
    int width = 0;
    int height = 0;

    bool operator==(const OutputSize&) const = default;
};

// The size a display of w × h pixels is captured at: scaled down (never up) to fit 2560 × 1440,
// rounded half away from zero, made even, and at least 2. A display without a positive size is
// captured at 2560 × 1440.
OutputSize captureOutputSize(int width, int height);

} // namespace tavoro::host
