#include "platform/ffmpeg/ffmpeg_h264_decoder.h"

#include "platform/ffmpeg/ffmpeg_handles.h"

#include <climits>
#include <cstring>

namespace tavoro::platform {

namespace {

constexpr int sliceThreads = 2;
// Hosts send at most 2560 × 1440. A stream that declares larger pictures is refused, so that its
// parameter sets cannot make the decoder's picture pool claim gigabytes.
constexpr std::int64_t maxPixels = 2560 * 1440;
constexpr std::size_t maxAccessUnit = INT_MAX - AV_INPUT_BUFFER_PADDING_SIZE;

bool isI420(const AVFrame& frame)
{
    return frame.format == AV_PIX_FMT_YUV420P || frame.format == AV_PIX_FMT_YUVJ420P;
}

// Shares the frame's reference-counted planes with the picture instead of copying them.
DecodedPicture share(const AVFrame& frame)
{
    std::shared_ptr<AVFrame> reference(av_frame_clone(&frame), FrameDeleter());
    DecodedPicture picture;
    if (!reference) {
        return picture;
    }
    picture.width = frame.width;
    picture.height = frame.height;
    picture.fullRange = frame.format == AV_PIX_FMT_YUVJ420P || frame.color_range == AVCOL_RANGE_JPEG;
    for (std::size_t i = 0; i < picture.planes.size(); ++i) {
        picture.planes[i] = {reference->data[i], reference->linesize[i]};
    }
    picture.storage = std::move(reference);
    return picture;
}

class FfmpegH264Decoder final : public H264Decoder {
public:
    FfmpegH264Decoder(CodecContextPtr context, FramePtr frame, PacketPtr packet)
        : context_(std::move(context)), frame_(std::move(frame)), packet_(std::move(packet))
    {
    }

    bool decode(std::span<const std::uint8_t> accessUnit, const DecodedOutput& output) override
    {
        // libavcodec reads past the end of its input, into padding that av_new_packet() zeroes.
        if (accessUnit.empty() || accessUnit.size() > maxAccessUnit ||
            av_new_packet(packet_.get(), static_cast<int>(accessUnit.size())) < 0) {
            return false;
        }
        std::memcpy(packet_->data, accessUnit.data(), accessUnit.size());
        const bool accepted = avcodec_send_packet(context_.get(), packet_.get()) >= 0;
        av_packet_unref(packet_.get());
        return drain(output) && accepted;
    }

    void flush(const DecodedOutput& output) override
    {
        if (avcodec_send_packet(context_.get(), nullptr) >= 0) {
            drain(output);
        }
        avcodec_flush_buffers(context_.get());
    }

private:
    // Delivers the pictures that are ready; false when one of them was damaged and dropped.
    bool drain(const DecodedOutput& output)
    {
        bool clean = true;
        while (avcodec_receive_frame(context_.get(), frame_.get()) >= 0) {
            const bool damaged = frame_->decode_error_flags != 0 || (frame_->flags & AV_FRAME_FLAG_CORRUPT) != 0;
            if (damaged || !isI420(*frame_)) {
                clean = false;
            } else if (auto picture = share(*frame_); picture.storage) {
                output(picture);
            }
            av_frame_unref(frame_.get());
        }
        return clean;
    }

    CodecContextPtr context_;
    FramePtr frame_;
    PacketPtr packet_;
};

} // namespace

std::unique_ptr<H264Decoder> FfmpegH264DecoderFactory::create()
{
    routeFfmpegLog();
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    if (!codec) {
        return nullptr;
    }
    CodecContextPtr context(avcodec_alloc_context3(codec));
    FramePtr frame(av_frame_alloc());
    PacketPtr packet(av_packet_alloc());
    if (!context || !frame || !packet) {
        return nullptr;
    }
    context->thread_type = FF_THREAD_SLICE;
    context->thread_count = sliceThreads;
    context->flags |= AV_CODEC_FLAG_LOW_DELAY;
    context->max_pixels = maxPixels;
    if (avcodec_open2(context.get(), codec, nullptr) < 0) {
        return nullptr;
    }
    return std::make_unique<FfmpegH264Decoder>(std::move(context), std::move(frame), std::move(packet));
}

} // namespace tavoro::platform
