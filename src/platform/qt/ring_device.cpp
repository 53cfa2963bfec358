#include "platform/qt/ring_device.h"

#include <cstring>
#include <vector>

namespace tavoro::platform::qt {

RingDevice::RingDevice(std::shared_ptr<SampleRing> ring) : ring_(std::move(ring)) {}

qint64 RingDevice::bytesAvailable() const
{
    const auto bytes = ring_->frames() * static_cast<std::size_t>(ring_->channels()) * sizeof(float);
    return static_cast<qint64>(bytes) + QIODevice::bytesAvailable();
}

qint64 RingDevice::readData(char* data, qint64 maxSize)
{
    if (maxSize <= 0) {
        return 0;
    }
    std::vector<float> samples(static_cast<std::size_t>(maxSize) / sizeof(float));
    const std::size_t frames = ring_->read(samples);
    const std::size_t bytes = frames * static_cast<std::size_t>(ring_->channels()) * sizeof(float);
    std::memcpy(data, samples.data(), bytes);
    return static_cast<qint64>(bytes);
}

} // namespace tavoro::platform::qt
