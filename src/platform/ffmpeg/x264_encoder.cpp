#include "platform/ffmpeg/x264_encoder.h"

#include "platform/ffmpeg/ffmpeg_handles.h"

extern "C" {
#include <libavutil/opt.h>
}

#include <libyuv.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>

namespace tavoro::platform {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int maxThreads = 2;

double millisSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Rate control bounded by a VBV buffer of half a second: libx264 applies a new rate on the open
// encoder only when the VBV values change with it, and the smaller the buffer, the sooner the output
// follows (about four pictures here, against seven with a one-second buffer).
void applyBitrate(AVCodecContext& context, int kbps)
{
    const std::int64_t bitsPerSecond = static_cast<std::int64_t>(kbps) * 1000;
    context.bit_rate = bitsPerSecond;
    context.rc_max_rate = bitsPerSecond;
    context.rc_buffer_size = static_cast<int>(std::min<std::int64_t>(bitsPerSecond / 2, INT32_MAX));
}

CodecContextPtr openContext(const H264EncoderSettings& settings, const std::string& preset)
{
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) {
        return nullptr;
    }
    CodecContextPtr context(avcodec_alloc_context3(codec));
    if (!context) {
        return nullptr;
    }
    context->width = settings.width;
    context->height = settings.height;
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    context->time_base = {1, settings.fps};
    context->framerate = {settings.fps, 1};
    context->gop_size = 2 * settings.fps;
    context->max_b_frames = 0;
    context->thread_count = maxThreads;
    applyBitrate(*context, settings.bitrateKbps);
    av_opt_set(context->priv_data, "preset", preset.c_str(), 0);
    av_opt_set(context->priv_data, "tune", "zerolatency", 0);
    av_opt_set(context->priv_data, "profile", "main", 0);
    // ultrafast turns CABAC off, which makes the stream Constrained Baseline; the Main profile caps
    // the other presets' High-profile tools (8×8 transforms).
    av_opt_set(context->priv_data, "x264-params", "cabac=1", 0);
    av_opt_set_int(context->priv_data, "forced-idr", 1, 0);
    if (avcodec_open2(context.get(), codec, nullptr) < 0) {
        return nullptr;
    }
    return context;
}

class X264Encoder final : public H264Encoder {
public:
    X264Encoder(CodecContextPtr context, FramePtr frame, PacketPtr packet)
        : context_(std::move(context)), frame_(std::move(frame)), packet_(std::move(packet))
    {
    }

    void encode(const PixelBuffer& picture, bool forceKeyframe, const EncodedOutput& output) override
    {
        if (flushed_ || picture.width() != context_->width || picture.height() != context_->height ||
            av_frame_make_writable(frame_.get()) < 0) {
            return;
        }
        const auto convertStart = Clock::now();
        libyuv::ARGBToI420(picture.data(), picture.stride(), frame_->data[0], frame_->linesize[0], frame_->data[1],
            frame_->linesize[1], frame_->data[2], frame_->linesize[2], picture.width(), picture.height());
        timings_.convertMs = millisSince(convertStart);

        const auto encodeStart = Clock::now();
        frame_->pts = nextPts_++;
        frame_->pict_type = forceKeyframe ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
        if (avcodec_send_frame(context_.get(), frame_.get()) >= 0) {
            drain(output);
        }
        timings_.encodeMs = millisSince(encodeStart);
    }

    void setBitrate(int kbps) override
    {
        if (kbps > 0) {
            applyBitrate(*context_, kbps);
        }
    }

    void flush(const EncodedOutput& output) override
    {
        if (flushed_) {
            return;
        }
        flushed_ = true;
        if (avcodec_send_frame(context_.get(), nullptr) >= 0) {
            drain(output);
        }
    }

    EncodeTimings lastTimings() const override { return timings_; }

private:
    void drain(const EncodedOutput& output)
    {
        while (avcodec_receive_packet(context_.get(), packet_.get()) >= 0) {
            output(std::span<const std::uint8_t>(packet_->data, static_cast<std::size_t>(packet_->size)),
                (packet_->flags & AV_PKT_FLAG_KEY) != 0);
            av_packet_unref(packet_.get());
        }
    }

    CodecContextPtr context_;
    FramePtr frame_;
    PacketPtr packet_;
    std::int64_t nextPts_ = 0;
    bool flushed_ = false;
    EncodeTimings timings_;
};

} // namespace

std::unique_ptr<H264Encoder> X264EncoderFactory::create(const H264EncoderSettings& settings)
{
    // 4:2:0 pictures have even sizes; libx264 would refuse odd ones (and leak on the way).
    const bool evenSize = settings.width % 2 == 0 && settings.height % 2 == 0;
    if (settings.width <= 0 || settings.height <= 0 || !evenSize || settings.fps <= 0 || settings.bitrateKbps <= 0) {
        return nullptr;
    }
    routeFfmpegLog();
    auto context = openContext(settings, preset_);
    if (!context) {
        return nullptr;
    }
    FramePtr frame(av_frame_alloc());
    PacketPtr packet(av_packet_alloc());
    if (!frame || !packet) {
        return nullptr;
    }
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = settings.width;
    frame->height = settings.height;
    if (av_frame_get_buffer(frame.get(), 0) < 0) {
        return nullptr;
    }
    return std::make_unique<X264Encoder>(std::move(context), std::move(frame), std::move(packet));
}

} // namespace tavoro::platform
