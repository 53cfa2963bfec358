#pragma once

#include "platform/audio_sink.h"

#include <string>
#include <vector>

namespace tavoro::platform::fake {

// Records every call as one line of text ("start 48000 2", "play 480", "stop") and keeps the planes of
// the last chunk played. startFailures makes that many start() calls fail. Not thread-safe.
class RecordingAudioSink final : public AudioSink {
public:
    std::vector<std::string> events;
    std::vector<std::vector<float>> lastPlanes;
    int startFailures = 0;

    bool start(int sampleRate, int channels) override
    {
        events.push_back("start " + std::to_string(sampleRate) + " " + std::to_string(channels));
        if (startFailures > 0) {
            --startFailures;
            return false;
        }
        return true;
    }
    void play(std::span<const std::vector<float>> planes) override
    {
        events.push_back("play " + std::to_string(planes.empty() ? 0 : planes.front().size()));
        lastPlanes.assign(planes.begin(), planes.end());
    }
    void stop() override { events.push_back("stop"); }
};

} // namespace tavoro::platform::fake
