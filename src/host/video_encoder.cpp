#include "host/video_encoder.h"

namespace tavoro::host {

std::unique_ptr<VideoEncoder> VideoEncoder::create(platform::H264EncoderFactory& factory, int width, int height,
    int fps, int bitrateKbps)
{
    if (width <= 0 || height <= 0 || fps <= 0 || bitrateKbps <= 0) {
        return nullptr;
    }
    auto encoder = factory.create({width, height, fps, bitrateKbps});
    if (!encoder) {
        return nullptr;
    }
    return std::unique_ptr<VideoEncoder>(new VideoEncoder(std::move(encoder), width, height));
}

VideoEncoder::VideoEncoder(std::unique_ptr<platform::H264Encoder> encoder, int width, int height)
    : encoder_(std::move(encoder)), width_(width), height_(height)
{
}

VideoEncoder::~VideoEncoder() { finish(); }

void VideoEncoder::encode(const platform::PixelBuffer& picture)
{
    if (!encoder_ || picture.width() != width_ || picture.height() != height_) {
        return;
    }
    if (const int kbps = pendingBitrateKbps_.exchange(0); kbps > 0) {
        encoder_->setBitrate(kbps);
    }
    const bool forceKeyframe = forceKeyframeNext.exchange(false);
    ++frameIndex_;
    encoder_->encode(picture, forceKeyframe,
        [this](std::span<const std::uint8_t> encoded, bool keyframe) { emit(encoded, keyframe); });
}

void VideoEncoder::setBitrateKbps(int kbps)
{
    if (kbps > 0) {
        pendingBitrateKbps_ = kbps;
    }
}

void VideoEncoder::finish()
{
    if (!encoder_) {
        return;
    }
    encoder_->flush([this](std::span<const std::uint8_t> encoded, bool keyframe) { emit(encoded, keyframe); });
    encoder_.reset();
}

platform::EncodeTimings VideoEncoder::lastTimings() const
{
    return encoder_ ? encoder_->lastTimings() : platform::EncodeTimings{};
}

void VideoEncoder::emit(std::span<const std::uint8_t> encoded, bool keyframe)
{
    auto accessUnit = writer_.write(encoded, keyframe);
    if (!accessUnit.empty() && onEncoded) {
        onEncoded(std::move(accessUnit), keyframe);
    }
}

} // namespace tavoro::host
