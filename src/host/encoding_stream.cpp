#include "host/encoding_stream.h"

#include "core/log.h"

namespace tavoro::host {

bool EncodingStream::ensureEncoder(int width, int height, int bitrateKbps)
{
    if (encoder_ && encoder_->width() == width && encoder_->height() == height) {
        return true;
    }
    finish();
    encoder_ = VideoEncoder::create(factory_, width, height, fps_, bitrateKbps);
    if (!encoder_) {
        if (failedSize_ != std::pair(width, height)) {
            failedSize_ = std::pair(width, height);
            log::info("Tavoro: H.264 编码器创建失败");
        }
        return false;
    }
    failedSize_.reset();
    encoder_->onEncoded = [this, width, height](std::vector<std::uint8_t> accessUnit, bool isKey) {
        if (onEncoded) {
            onEncoded(std::move(accessUnit), isKey, width, height);
        }
    };
    return true;
}

void EncodingStream::encode(const platform::PixelBuffer& picture, int width, int height, const EncodeRequest& request)
{
    if (!ensureEncoder(width, height, request.bitrateKbps)) {
        return;
    }
    if (request.newBitrateKbps) {
        encoder_->setBitrateKbps(*request.newBitrateKbps);
        encoder_->forceKeyframeNext = true;
    }
    if (request.keyframe) {
        encoder_->forceKeyframeNext = true;
    }
    encoder_->encode(picture);
}

void EncodingStream::finish()
{
    if (encoder_) {
        encoder_->finish();
        encoder_.reset();
    }
}

} // namespace tavoro::host
