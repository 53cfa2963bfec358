// Whatever reaches a control session as relay messages or UDP frames (pictures, video, tiles, audio,
// junk): it never crashes, and everything runs through the real decoders.
#include "control/control_session.h"
#include "platform/fake/fixed_user_folders.h"
#include "platform/fake/manual_clock.h"
#include "platform/fake/manual_main_queue.h"
#include "platform/fake/manual_serial_queue.h"
#include "platform/fake/recording_audio_sink.h"
#include "platform/ffmpeg/ffmpeg_h264_decoder.h"
#include "platform/ffmpeg/ffmpeg_image_codec.h"
#include "support/fake_peer_link.h"
#include "support/recording_sender.h"

namespace {

using namespace tavoro;

struct Sinks final : platform::AudioSinkFactory {
    std::unique_ptr<platform::AudioSink> create() override { return std::make_unique<platform::fake::RecordingAudioSink>(); }
};

struct Fixture {
    test::RecordingSender sender;
    platform::FfmpegH264DecoderFactory decoders;
    platform::FfmpegImageCodec images;
    Sinks sinks;
    platform::fake::FixedUserFolders folders;
    std::shared_ptr<platform::fake::ManualSerialQueue> frames = std::make_shared<platform::fake::ManualSerialQueue>();
    std::shared_ptr<platform::fake::ManualSerialQueue> decodes = std::make_shared<platform::fake::ManualSerialQueue>();
    control::ControlMedia media{decoders, images, sinks, folders, frames, decodes};
    platform::fake::ManualMainQueue main;
    platform::fake::ManualClock clock;
    platform::fake::ManualScheduler timers{clock};
    platform::fake::ManualWallClock wallClock{std::chrono::system_clock::time_point()};
};

} // namespace

// Input: records of [path byte][length, 2 bytes little-endian][bytes]; path bit 0 picks the relay
// (the bytes follow a relay header naming the host) or the UDP path.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Fixture fixture;
    const std::string host = "200000002";
    auto session = control::ControlSession::create({fixture.sender, fixture.media, fixture.main, fixture.timers,
                                                       fixture.wallClock,
                                                       std::make_unique<test::FakePeerLink>(
                                                           std::make_shared<test::FakeLinkRecord>())},
        "call", host, "100000001", "");
    std::size_t at = 0;
    while (at + 3 <= size) {
        const bool relayed = data[at] & 1;
        const std::size_t length = std::min<std::size_t>(data[at + 1] | (data[at + 2] << 8), size - at - 3);
        const std::uint8_t* bytes = data + at + 3;
        at += 3 + length;
        if (relayed) {
            std::vector<std::uint8_t> message(1 + host.size() + length, 0xFE);
            std::copy(host.begin(), host.end(), message.begin() + 1);
            std::copy(bytes, bytes + length, message.begin() + 1 + static_cast<std::ptrdiff_t>(host.size()));
            session->handleBinary(message);
        } else {
            session->link().onFrame(std::vector<std::uint8_t>(bytes, bytes + length));
        }
        fixture.frames->drain();
        fixture.decodes->drain();
    }
    session->close(false);
    while (fixture.frames->drain() + fixture.decodes->drain() + fixture.main.drain() > 0) {
    }
    return 0;
}
