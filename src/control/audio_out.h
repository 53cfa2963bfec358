#pragma once

#include "platform/audio_sink.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace tavoro::control {

// Interleaved signed 16-bit little-endian samples as one float plane per channel, each sample × 2^-15.
// A trailing partial frame is ignored; nothing when channels is not positive or no whole frame is there.
std::vector<std::vector<float>> pcm16ToPlanes(std::span<const std::uint8_t> bytes, int channels);

// Plays the host's sound: converts each chunk and queues it on the sink, restarting the sink whenever
// the rate or channel count changes. One thread at a time (the session's frame queue).
class AudioOut {
public:
    explicit AudioOut(std::unique_ptr<platform::AudioSink> sink);
    ~AudioOut();

    // Drops the chunk when the rate or channel count is not positive, the data is empty, or the sink
    // cannot start in the format (the next chunk tries again).
    void playPcm16(std::span<const std::uint8_t> data, int sampleRate, int channels);
    // Stops the sink; safe at any time. The next chunk starts it again.
    void release();

    int rate() const { return rate_; }
    int channels() const { return channels_; }
    bool started() const { return started_; }

private:
    std::unique_ptr<platform::AudioSink> sink_;
    int rate_ = 0;
    int channels_ = 0;
    bool started_ = false;
};

} // namespace tavoro::control
