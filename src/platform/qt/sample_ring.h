#pragma once

#include <cstddef>
#include <mutex>
#include <span>
#include <vector>

namespace tavoro::platform::qt {

// Interleaved float samples on their way to an audio device: one thread writes chunks, the device's
// thread reads whole frames. It holds at most `capacityFrames` frames; a chunk that does not fit pushes
// out the oldest frames, so the delay never grows past the capacity. Any thread; mutex_ guards all.
class SampleRing {
public:
    // Empties the ring and sets its shape.
    void reset(int channels, std::size_t capacityFrames);
    // Appends one chunk: one plane per channel, all of the same length (else the chunk is dropped).
    void write(std::span<const std::vector<float>> planes);
    // Moves up to out.size() / channels whole frames into `out`, interleaved; returns the frame count.
    std::size_t read(std::span<float> out);
    std::size_t frames() const;
    int channels() const;

private:
    void push(float sample);

    mutable std::mutex mutex_;
    std::size_t channels_ = 0;
    std::vector<float> samples_; // circular, capacity × channels
    std::size_t head_ = 0;       // index of the oldest sample
    std::size_t size_ = 0;       // samples held
};

} // namespace tavoro::platform::qt
