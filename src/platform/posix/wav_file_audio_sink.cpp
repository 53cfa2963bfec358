#include "platform/posix/wav_file_audio_sink.h"

#include "core/log.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <string>
#include <unistd.h>

namespace tavoro::platform {
namespace {

constexpr std::uint64_t kHeaderBytes = 44;
constexpr std::uint64_t kMaxDataBytes = std::numeric_limits<std::uint32_t>::max() - (kHeaderBytes - 8);

void putU16(std::uint8_t* at, std::uint32_t value)
{
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

void putU32(std::uint8_t* at, std::uint32_t value)
{
    putU16(at, value & 0xFFFF);
    putU16(at + 2, value >> 16);
}

std::array<std::uint8_t, kHeaderBytes> headerFor(std::uint32_t rate, std::uint32_t channels)
{
    std::array<std::uint8_t, kHeaderBytes> header{};
    std::memcpy(header.data(), "RIFF", 4);
    putU32(header.data() + 4, kHeaderBytes - 8);
    std::memcpy(header.data() + 8, "WAVEfmt ", 8);
    putU32(header.data() + 16, 16);
    putU16(header.data() + 20, 1); // integer PCM
    putU16(header.data() + 22, channels);
    putU32(header.data() + 24, rate);
    putU32(header.data() + 28, rate * channels * 2);
    putU16(header.data() + 32, channels * 2);
    putU16(header.data() + 34, 16);
    std::memcpy(header.data() + 36, "data", 4);
    return header;
}

bool formatFits(int sampleRate, int channels)
{
    return sampleRate > 0 && channels > 0 && channels <= 0xFFFF &&
        std::uint64_t(sampleRate) * std::uint64_t(channels) * 2 <= std::numeric_limits<std::uint32_t>::max();
}

std::int16_t toPcm16(float sample)
{
    const float scaled = std::round(sample * 32768.0f);
    return static_cast<std::int16_t>(std::clamp(scaled, -32768.0f, 32767.0f));
}

std::vector<std::uint8_t> interleave(std::span<const std::vector<float>> planes)
{
    const std::size_t frames = planes.front().size();
    std::vector<std::uint8_t> bytes(frames * planes.size() * 2);
    std::size_t at = 0;
    for (std::size_t f = 0; f < frames; ++f) {
        for (const auto& plane : planes) {
            putU16(bytes.data() + at, static_cast<std::uint16_t>(toPcm16(plane[f])));
            at += 2;
        }
    }
    return bytes;
}

} // namespace

WavFileAudioSink::WavFileAudioSink(std::filesystem::path path) : path_(std::move(path)) {}

bool WavFileAudioSink::start(int sampleRate, int channels)
{
    if (!formatFits(sampleRate, channels)) {
        return false;
    }
    if (!file_.valid() && fileRate_ == 0) {
        accepting_ = createFile(sampleRate, channels);
        return accepting_;
    }
    accepting_ = file_.valid() && sampleRate == fileRate_ && channels == fileChannels_;
    if (!accepting_ && file_.valid()) {
        log::warn("Tavoro audio: " + path_.string() + " holds " + std::to_string(fileRate_) + " Hz × " +
            std::to_string(fileChannels_) + "; audio in " + std::to_string(sampleRate) + " Hz × " +
            std::to_string(channels) + " is dropped");
    }
    return true;
}

bool WavFileAudioSink::createFile(int sampleRate, int channels)
{
    file_.reset(::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!file_.valid()) {
        log::warn("Tavoro audio: cannot create " + path_.string() + ": " + std::strerror(errno));
        return false;
    }
    const auto header = headerFor(static_cast<std::uint32_t>(sampleRate), static_cast<std::uint32_t>(channels));
    if (!writeAt(0, header)) {
        fail("write");
        return false;
    }
    fileRate_ = sampleRate;
    fileChannels_ = channels;
    return true;
}

void WavFileAudioSink::play(std::span<const std::vector<float>> planes)
{
    if (!accepting_ || planes.size() != static_cast<std::size_t>(fileChannels_)) {
        return;
    }
    const std::size_t frames = planes.front().size();
    if (std::any_of(planes.begin(), planes.end(), [&](const auto& plane) { return plane.size() != frames; })) {
        return;
    }
    const auto bytes = interleave(planes);
    if (dataBytes_ + bytes.size() > kMaxDataBytes) {
        return;
    }
    if (!writeAt(kHeaderBytes + dataBytes_, bytes)) {
        fail("write");
        return;
    }
    dataBytes_ += static_cast<std::uint32_t>(bytes.size());
    std::array<std::uint8_t, 4> size{};
    putU32(size.data(), static_cast<std::uint32_t>(kHeaderBytes - 8 + dataBytes_));
    const bool riffSized = writeAt(4, size);
    putU32(size.data(), dataBytes_);
    if (!riffSized || !writeAt(kHeaderBytes - 4, size)) {
        fail("write");
    }
}

void WavFileAudioSink::stop() { accepting_ = false; }

bool WavFileAudioSink::writeAt(std::uint64_t offset, std::span<const std::uint8_t> bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::pwrite(file_.get(), bytes.data(), bytes.size(), static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            errno = n == 0 ? EIO : errno;
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(n));
        offset += static_cast<std::uint64_t>(n);
    }
    return true;
}

void WavFileAudioSink::fail(const char* what)
{
    log::warn("Tavoro audio: " + std::string(what) + " " + path_.string() + ": " + std::strerror(errno));
    file_.reset();
    accepting_ = false;
}

} // namespace tavoro::platform
