#pragma once

#include "platform/ffmpeg/ffmpeg_handles.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace tavoro::test {

// Decodes access units with libavcodec's H.264 decoder, to prove that a stream plays.
class H264Decoder {
public:
    H264Decoder()
    {
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
        context_.reset(avcodec_alloc_context3(codec));
        opened_ = context_ && avcodec_open2(context_.get(), codec, nullptr) >= 0;
    }

    // Feeds one access unit; returns false when the decoder rejects it.
    bool decode(const std::vector<std::uint8_t>& accessUnit)
    {
        if (!opened_) {
            return false;
        }
        platform::PacketPtr packet(av_packet_alloc());
        packet->data = const_cast<std::uint8_t*>(accessUnit.data());
        packet->size = static_cast<int>(accessUnit.size());
        if (avcodec_send_packet(context_.get(), packet.get()) < 0) {
            return false;
        }
        drain();
        return true;
    }
    void finish()
    {
        if (opened_ && avcodec_send_packet(context_.get(), nullptr) >= 0) {
            drain();
        }
    }

    int pictures = 0;
    int width = 0;
    int height = 0;

private:
    void drain()
    {
        platform::FramePtr frame(av_frame_alloc());
        while (avcodec_receive_frame(context_.get(), frame.get()) >= 0) {
            ++pictures;
            width = frame->width;
            height = frame->height;
            av_frame_unref(frame.get());
        }
    }

    platform::CodecContextPtr context_;
    bool opened_ = false;
};

// What ffprobe says of a raw H.264 file: "profile=Main\nwidth=640\nheight=360\nnb_read_frames=45\n".
inline std::string probe(const std::filesystem::path& file)
{
    const std::string command = "ffprobe -v error -f h264 -select_streams v:0 -count_frames "
                                "-show_entries stream=profile,width,height,nb_read_frames -of default=noprint_wrappers=1 '" +
        file.string() + "' 2>&1";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    std::string output;
    char buffer[256];
    while (pipe && std::fgets(buffer, sizeof buffer, pipe.get())) {
        output += buffer;
    }
    return output;
}

} // namespace tavoro::test
