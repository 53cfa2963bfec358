#pragma once

#include "core/unique_fd.h"
#include "platform/audio_sink.h"

#include <cstdint>
#include <filesystem>

namespace tavoro::platform {

// Plays into a WAV file (16-bit PCM, interleaved) instead of a device: for headless runs and tests.
// The file is created, replacing an older one, at the first start() and takes that first format for
// good; its header sizes are brought up to date after every chunk, so the file is valid at any time.
// A later start() in another format is accepted but its chunks are dropped (one log line each time),
// since one WAV file holds one format. A failed write logs one line and ends writing.
// One thread at a time.
class WavFileAudioSink final : public AudioSink {
public:
    explicit WavFileAudioSink(std::filesystem::path path);

    bool start(int sampleRate, int channels) override;
    void play(std::span<const std::vector<float>> planes) override;
    void stop() override;

private:
    bool createFile(int sampleRate, int channels);
    bool writeAt(std::uint64_t offset, std::span<const std::uint8_t> bytes);
    void fail(const char* what);

    std::filesystem::path path_;
    core::UniqueFd file_;
    int fileRate_ = 0;
    int fileChannels_ = 0;
    bool accepting_ = false; // started in the file's format
    std::uint32_t dataBytes_ = 0;
};

// Every sink it opens writes the same file (the newest replaces the file of the one before).
class WavFileAudioSinkFactory final : public AudioSinkFactory {
public:
    explicit WavFileAudioSinkFactory(std::filesystem::path path) : path_(std::move(path)) {}
    std::unique_ptr<AudioSink> create() override { return std::make_unique<WavFileAudioSink>(path_); }

private:
    std::filesystem::path path_;
};

} // namespace tavoro::platform
