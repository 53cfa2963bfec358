#include "platform/ffmpeg/ffmpeg_image_codec.h"

#include "platform/ffmpeg/ffmpeg_handles.h"

extern "C" {
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <libyuv.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string_view>

namespace tavoro::platform {

namespace {

struct SwsContextDeleter {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};
using SwsContextPtr = std::unique_ptr<SwsContext, SwsContextDeleter>;

// Decoders may ask for a little more than the picture (rows and columns rounded up to their block size).
constexpr int blockPadding = 64;
constexpr std::size_t maxInput = INT_MAX - AV_INPUT_BUFFER_PADDING_SIZE;

bool startsWith(std::span<const std::uint8_t> bytes, std::string_view magic, std::size_t at = 0)
{
    return bytes.size() >= at + magic.size() &&
        std::memcmp(bytes.data() + at, magic.data(), magic.size()) == 0;
}

AVCodecID imageCodecFor(std::span<const std::uint8_t> bytes)
{
    using namespace std::string_view_literals;
    if (startsWith(bytes, "\x89PNG\r\n\x1A\n"sv)) {
        return AV_CODEC_ID_PNG;
    }
    if (startsWith(bytes, "\xFF\xD8\xFF"sv)) {
        return AV_CODEC_ID_MJPEG;
    }
    if (startsWith(bytes, "BM"sv)) {
        return AV_CODEC_ID_BMP;
    }
    if (startsWith(bytes, "GIF87a"sv) || startsWith(bytes, "GIF89a"sv)) {
        return AV_CODEC_ID_GIF;
    }
    if (startsWith(bytes, "RIFF"sv) && startsWith(bytes, "WEBP"sv, 8)) {
        return AV_CODEC_ID_WEBP;
    }
    return AV_CODEC_ID_NONE;
}

// Refuses the picture's memory when a side is too long, before the decoder writes a pixel.
int boundedBuffer(AVCodecContext* context, AVFrame* frame, int flags)
{
    constexpr int limit = ImageCodec::kMaxSide + blockPadding;
    if (frame->width > limit || frame->height > limit) {
        return AVERROR(EINVAL);
    }
    return avcodec_default_get_buffer2(context, frame, flags);
}

FramePtr decodePicture(AVCodecID codecId, std::span<const std::uint8_t> bytes)
{
    const AVCodec* codec = avcodec_find_decoder(codecId);
    if (!codec || bytes.size() > maxInput) {
        return nullptr;
    }
    CodecContextPtr context(avcodec_alloc_context3(codec));
    PacketPtr packet(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    if (!context || !packet || !frame) {
        return nullptr;
    }
    context->thread_count = 1;
    context->max_pixels = static_cast<std::int64_t>(ImageCodec::kMaxSide) * ImageCodec::kMaxSide;
    context->get_buffer2 = boundedBuffer;
    if (avcodec_open2(context.get(), codec, nullptr) < 0 ||
        av_new_packet(packet.get(), static_cast<int>(bytes.size())) < 0) {
        return nullptr;
    }
    std::memcpy(packet->data, bytes.data(), bytes.size());
    if (avcodec_send_packet(context.get(), packet.get()) < 0) {
        return nullptr;
    }
    avcodec_send_packet(context.get(), nullptr); // a single picture: take it without waiting for more
    if (avcodec_receive_frame(context.get(), frame.get()) < 0 || (frame->flags & AV_FRAME_FLAG_CORRUPT) != 0) {
        return nullptr;
    }
    return frame;
}

bool mayCarryAlpha(AVPixelFormat format)
{
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(format);
    return !descriptor || (descriptor->flags & (AV_PIX_FMT_FLAG_ALPHA | AV_PIX_FMT_FLAG_PAL)) != 0;
}

// The fourth byte is 255 everywhere, as in every other BGRX picture of this program.
void makeOpaque(PixelBuffer& picture)
{
    for (int y = 0; y < picture.height(); ++y) {
        std::uint8_t* pixel = picture.row(y);
        for (int x = 0; x < picture.width(); ++x, pixel += 4) {
            pixel[3] = 255;
        }
    }
}

PixelBufferRef toBgrx(const AVFrame& frame)
{
    const auto format = static_cast<AVPixelFormat>(frame.format);
    SwsContextPtr scaler(sws_getContext(frame.width, frame.height, format, frame.width, frame.height,
        AV_PIX_FMT_BGRA, SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!scaler) {
        return nullptr;
    }
    auto picture = std::make_shared<PixelBuffer>(frame.width, frame.height);
    std::uint8_t* target[4] = {picture->data(), nullptr, nullptr, nullptr};
    const int targetStride[4] = {picture->stride(), 0, 0, 0};
    if (sws_scale(scaler.get(), frame.data, frame.linesize, 0, frame.height, target, targetStride) != frame.height) {
        return nullptr;
    }
    if (mayCarryAlpha(format)) {
        makeOpaque(*picture);
    }
    return picture;
}

bool isUsable(const DecodedPicture& picture)
{
    return picture.width > 0 && picture.height > 0 &&
        std::ranges::all_of(picture.planes, [](const PicturePlane& plane) { return plane.data != nullptr; });
}

// The picture as RGB24 in a frame of its own, ready for the encoder.
FramePtr toRgb(const DecodedPicture& picture)
{
    FramePtr frame(av_frame_alloc());
    if (!frame) {
        return nullptr;
    }
    frame->format = AV_PIX_FMT_RGB24;
    frame->width = picture.width;
    frame->height = picture.height;
    if (av_frame_get_buffer(frame.get(), 0) < 0) {
        return nullptr;
    }
    // libyuv names formats by their order in a little-endian word: its "RAW" is R, G, B in memory.
    const auto convert = picture.fullRange ? libyuv::J420ToRAW : libyuv::I420ToRAW;
    const auto& [y, u, v] = picture.planes;
    if (convert(y.data, y.stride, u.data, u.stride, v.data, v.stride, frame->data[0], frame->linesize[0],
            picture.width, picture.height) != 0) {
        return nullptr;
    }
    return frame;
}

std::optional<std::vector<std::uint8_t>> encodeFrame(const AVFrame& frame)
{
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
    if (!codec) {
        return std::nullopt;
    }
    CodecContextPtr context(avcodec_alloc_context3(codec));
    PacketPtr packet(av_packet_alloc());
    if (!context || !packet) {
        return std::nullopt;
    }
    context->width = frame.width;
    context->height = frame.height;
    context->pix_fmt = AV_PIX_FMT_RGB24;
    context->time_base = {1, 1};
    if (avcodec_open2(context.get(), codec, nullptr) < 0 || avcodec_send_frame(context.get(), &frame) < 0 ||
        avcodec_send_frame(context.get(), nullptr) < 0 || avcodec_receive_packet(context.get(), packet.get()) < 0) {
        return std::nullopt;
    }
    return std::vector<std::uint8_t>(packet->data, packet->data + packet->size);
}

} // namespace

PixelBufferRef FfmpegImageCodec::decodeImage(std::span<const std::uint8_t> bytes)
{
    routeFfmpegLog();
    const AVCodecID codecId = imageCodecFor(bytes);
    if (codecId == AV_CODEC_ID_NONE) {
        return nullptr;
    }
    const FramePtr frame = decodePicture(codecId, bytes);
    if (!frame || frame->width <= 0 || frame->height <= 0 || frame->width > kMaxSide || frame->height > kMaxSide) {
        return nullptr;
    }
    return toBgrx(*frame);
}

std::optional<std::vector<std::uint8_t>> FfmpegImageCodec::encodePng(const DecodedPicture& picture)
{
    routeFfmpegLog();
    if (!isUsable(picture)) {
        return std::nullopt;
    }
    const FramePtr frame = toRgb(picture);
    if (!frame) {
        return std::nullopt;
    }
    return encodeFrame(*frame);
}

} // namespace tavoro::platform
