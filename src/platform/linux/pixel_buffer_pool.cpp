#include "platform/linux/pixel_buffer_pool.h"

namespace tavoro::platform {

PixelBufferPool::PixelBufferPool(int maxInFlight)
    : maxInFlight_(maxInFlight), storage_(std::make_shared<Storage>())
{
}

std::shared_ptr<PixelBuffer> PixelBufferPool::acquire(int width, int height)
{
    std::unique_ptr<PixelBuffer> buffer;
    {
        std::lock_guard lock(storage_->mutex);
        if (storage_->inFlight >= maxInFlight_) {
            return nullptr;
        }
        ++storage_->inFlight;
        auto& spare = storage_->spare;
        for (auto it = spare.begin(); it != spare.end(); ++it) {
            if ((*it)->width() == width && (*it)->height() == height) {
                buffer = std::move(*it);
                spare.erase(it);
                break;
            }
        }
    }
    if (!buffer) {
        buffer = std::make_unique<PixelBuffer>(width, height);
    }
    buffer->timings = {};
    return std::shared_ptr<PixelBuffer>(buffer.release(), [storage = storage_](PixelBuffer* released) {
        std::unique_ptr<PixelBuffer> owned(released);
        std::lock_guard lock(storage->mutex);
        --storage->inFlight;
        storage->spare.push_back(std::move(owned));
    });
}

} // namespace tavoro::platform
