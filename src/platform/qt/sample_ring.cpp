#include "platform/qt/sample_ring.h"

#include <algorithm>

namespace tavoro::platform::qt {

void SampleRing::reset(int channels, std::size_t capacityFrames)
{
    std::lock_guard lock(mutex_);
    channels_ = channels > 0 ? static_cast<std::size_t>(channels) : 0;
    samples_.assign(channels_ * capacityFrames, 0.0f);
    head_ = 0;
    size_ = 0;
}

void SampleRing::write(std::span<const std::vector<float>> planes)
{
    std::lock_guard lock(mutex_);
    if (channels_ == 0 || planes.size() != channels_ || samples_.empty()) {
        return;
    }
    const std::size_t length = planes.front().size();
    if (!std::all_of(planes.begin(), planes.end(), [length](const auto& plane) { return plane.size() == length; })) {
        return;
    }
    // Only the newest capacity's worth of the chunk can survive.
    const std::size_t capacityFrames = samples_.size() / channels_;
    for (std::size_t f = length - std::min(length, capacityFrames); f < length; ++f) {
        for (const auto& plane : planes) {
            push(plane[f]);
        }
    }
}

void SampleRing::push(float sample)
{
    if (size_ == samples_.size()) {
        samples_[head_] = sample;
        head_ = (head_ + 1) % samples_.size();
        return;
    }
    samples_[(head_ + size_) % samples_.size()] = sample;
    ++size_;
}

std::size_t SampleRing::read(std::span<float> out)
{
    std::lock_guard lock(mutex_);
    if (channels_ == 0) {
        return 0;
    }
    const std::size_t frames = std::min(out.size() / channels_, size_ / channels_);
    const std::size_t count = frames * channels_;
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = samples_[head_];
        head_ = (head_ + 1) % samples_.size();
    }
    size_ -= count;
    return frames;
}

std::size_t SampleRing::frames() const
{
    std::lock_guard lock(mutex_);
    return channels_ == 0 ? 0 : size_ / channels_;
}

int SampleRing::channels() const
{
    std::lock_guard lock(mutex_);
    return static_cast<int>(channels_);
}

} // namespace tavoro::platform::qt
