#include "control/audio_out.h"

namespace tavoro::control {

std::vector<std::vector<float>> pcm16ToPlanes(std::span<const std::uint8_t> bytes, int channels)
{
    if (channels <= 0) {
        return {};
    }
    const auto channelCount = static_cast<std::size_t>(channels);
    const std::size_t frames = bytes.size() / (2 * channelCount);
    if (frames == 0) {
        return {};
    }
    constexpr float scale = 1.0f / 32768.0f;
    std::vector<std::vector<float>> planes(channelCount, std::vector<float>(frames));
    for (std::size_t f = 0; f < frames; ++f) {
        for (std::size_t k = 0; k < channelCount; ++k) {
            const std::size_t at = 2 * (f * channelCount + k);
            const auto sample = static_cast<std::int16_t>(bytes[at] | (bytes[at + 1] << 8));
            planes[k][f] = static_cast<float>(sample) * scale;
        }
    }
    return planes;
}

AudioOut::AudioOut(std::unique_ptr<platform::AudioSink> sink) : sink_(std::move(sink)) {}

AudioOut::~AudioOut() { release(); }

void AudioOut::playPcm16(std::span<const std::uint8_t> data, int sampleRate, int channels)
{
    if (sampleRate <= 0 || channels <= 0 || data.empty() || !sink_) {
        return;
    }
    if (!started_ || sampleRate != rate_ || channels != channels_) {
        release();
        rate_ = sampleRate;
        channels_ = channels;
        started_ = sink_->start(sampleRate, channels);
        if (!started_) {
            return;
        }
    }
    const auto planes = pcm16ToPlanes(data, channels);
    if (!planes.empty()) {
        sink_->play(planes);
    }
}

void AudioOut::release()
{
    if (started_) {
        sink_->stop();
    }
    started_ = false;
    rate_ = 0;
    channels_ = 0;
}

} // namespace tavoro::control
