#include "platform/posix/wav_file_audio_sink.h"
#include "core/log.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>

namespace tavoro::platform {
namespace {

std::vector<std::uint8_t> contents(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::uint32_t le(const std::vector<std::uint8_t>& bytes, std::size_t at, int size)
{
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i) {
        value = (value << 8) | bytes.at(at + static_cast<std::size_t>(i));
    }
    return value;
}

std::string tag(const std::vector<std::uint8_t>& bytes, std::size_t at)
{
    return std::string(reinterpret_cast<const char*>(bytes.data() + at), 4);
}

// The header of a 16-bit PCM file as "rate channels byteRate blockAlign bits dataBytes", after checking
// that both sizes match the file's length.
std::string header(const std::vector<std::uint8_t>& file)
{
    EXPECT_EQ(tag(file, 0) + tag(file, 8) + tag(file, 12) + tag(file, 36), "RIFFWAVEfmt data");
    EXPECT_EQ(le(file, 4, 4), file.size() - 8);
    EXPECT_EQ(le(file, 16, 4), 16u);
    EXPECT_EQ(le(file, 20, 2), 1u);
    EXPECT_EQ(le(file, 40, 4), file.size() - 44);
    return std::to_string(le(file, 24, 4)) + " " + std::to_string(le(file, 22, 2)) + " " +
        std::to_string(le(file, 28, 4)) + " " + std::to_string(le(file, 32, 2)) + " " +
        std::to_string(le(file, 34, 2)) + " " + std::to_string(le(file, 40, 4));
}

TEST(WavFileAudioSink, TheFileIsValidAfterEveryChunkAndKeepsItsFirstFormat)
{
    test::TempDir dir;
    const auto path = dir.path() / "out.wav";
    WavFileAudioSinkFactory factory(path);
    auto sink = factory.create();

    ASSERT_TRUE(sink->start(48000, 2));
    EXPECT_EQ(header(contents(path)), "48000 2 192000 4 16 0");

    const std::vector<std::vector<float>> stereo = {{-1.0f, 0.5f}, {32767.0f / 32768, 2.0f}};
    sink->play(stereo);
    auto file = contents(path);
    EXPECT_EQ(header(file), "48000 2 192000 4 16 8");
    // L0 R0 L1 R1, out-of-range samples clipped
    EXPECT_EQ(std::vector<std::uint8_t>(file.begin() + 44, file.end()),
        (std::vector<std::uint8_t>{0x00, 0x80, 0xFF, 0x7F, 0x00, 0x40, 0xFF, 0x7F}));

    sink->stop();
    log::Capture log;
    EXPECT_TRUE(sink->start(16000, 1)) << "accepted, so that the caller does not retry every chunk";
    sink->play(std::vector<std::vector<float>>{{0.25f}});
    sink->play(std::vector<std::vector<float>>{{0.25f}});
    EXPECT_EQ(log.count("is dropped"), 1u);
    EXPECT_EQ(header(contents(path)), "48000 2 192000 4 16 8");

    sink->start(48000, 2);
    sink->play(stereo);
    EXPECT_EQ(header(contents(path)), "48000 2 192000 4 16 16");
}

TEST(WavFileAudioSink, AFileThatCannotBeCreatedFailsTheStart)
{
    test::TempDir dir;
    WavFileAudioSink sink(dir.path() / "missing" / "out.wav");
    EXPECT_FALSE(sink.start(48000, 2));
    EXPECT_FALSE(sink.start(0, 2));
}

} // namespace
} // namespace tavoro::platform
