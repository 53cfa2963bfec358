#pragma once

#include "platform/audio_sink.h"

namespace tavoro::platform {

// An output that accepts every format and plays nothing: for programs without sound. One thread at a time.
class NullAudioSink final : public AudioSink {
public:
    bool start(int, int) override { return true; }
    void play(std::span<const std::vector<float>>) override {}
    void stop() override {}
};

class NullAudioSinkFactory final : public AudioSinkFactory {
public:
    std::unique_ptr<AudioSink> create() override { return std::make_unique<NullAudioSink>(); }
};

} // namespace tavoro::platform
