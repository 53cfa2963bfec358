#pragma once

#include "platform/pixel_buffer.h"

#include <memory>
#include <mutex>
#include <vector>

namespace tavoro::platform {

// Reuses picture buffers of one size and bounds how many are in flight. A buffer returns to the pool
// when its last reference goes, on whatever thread that happens; the pool's storage lives until
// then even if the pool object is gone. Safe from any thread.
class PixelBufferPool {
public:
    explicit PixelBufferPool(int maxInFlight);

    // A buffer to fill, or nothing while maxInFlight buffers are still referenced elsewhere.
    std::shared_ptr<PixelBuffer> acquire(int width, int height);

private:
    struct Storage {
        std::mutex mutex; // guards spare and inFlight
        std::vector<std::unique_ptr<PixelBuffer>> spare;
        int inFlight = 0;
    };

    int maxInFlight_;
    std::shared_ptr<Storage> storage_;
};

} // namespace tavoro::platform
