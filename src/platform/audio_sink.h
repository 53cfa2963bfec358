#pragma once

#include <memory>
#include <span>
#include <vector>

namespace tavoro::platform {

// An audio output device: plays 32-bit float samples, one plane per channel, queued back to back.
// One thread at a time.
class AudioSink {
public:
    virtual ~AudioSink() = default;
    // Prepares playback in this format. False when the format is unsupported or the device fails; the
    // caller tries again with its next chunk.
    virtual bool start(int sampleRate, int channels) = 0;
    // Queues one chunk after the ones before it: planes.size() == channels, all of the same length.
    virtual void play(std::span<const std::vector<float>> planes) = 0;
    // Stops playback and drops what is queued.
    virtual void stop() = 0;
};

// Opens audio outputs; nothing when there is no device.
class AudioSinkFactory {
public:
    virtual ~AudioSinkFactory() = default;
    virtual std::unique_ptr<AudioSink> create() = 0;
};

} // namespace tavoro::platform
