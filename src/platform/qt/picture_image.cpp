#include "platform/qt/picture_image.h"

#include <libyuv.h>

#include <cstdint>
#include <vector>

namespace tavoro::platform::qt {
namespace {

// An I420 picture of its own, for the scaled copy.
class I420Buffer {
public:
    I420Buffer(int width, int height)
        : width_(width), height_(height), chromaWidth_((width + 1) / 2),
          lumaBytes_(static_cast<std::size_t>(width) * static_cast<std::size_t>(height)),
          chromaBytes_(static_cast<std::size_t>(chromaWidth_) * static_cast<std::size_t>((height + 1) / 2)),
          bytes_(lumaBytes_ + 2 * chromaBytes_)
    {
    }

    // Scales `from` into this buffer.
    bool scaleFrom(const DecodedPicture& from)
    {
        const auto& [y, u, v] = from.planes;
        return libyuv::I420Scale(y.data, y.stride, u.data, u.stride, v.data, v.stride, from.width, from.height,
                   lumaPlane(), width_, uPlane(), chromaWidth_, vPlane(), chromaWidth_, width_, height_,
                   libyuv::kFilterBilinear)
            == 0;
    }

    DecodedPicture picture(bool fullRange)
    {
        return {width_, height_, fullRange, {{{lumaPlane(), width_}, {uPlane(), chromaWidth_}, {vPlane(), chromaWidth_}}},
            nullptr};
    }

private:
    std::uint8_t* lumaPlane() { return bytes_.data(); }
    std::uint8_t* uPlane() { return bytes_.data() + lumaBytes_; }
    std::uint8_t* vPlane() { return bytes_.data() + lumaBytes_ + chromaBytes_; }

    int width_;
    int height_;
    int chromaWidth_;
    std::size_t lumaBytes_;
    std::size_t chromaBytes_;
    std::vector<std::uint8_t> bytes_;
};

QImage convert(const DecodedPicture& picture)
{
    QImage image(picture.width, picture.height, QImage::Format_RGB32);
    if (image.isNull()) {
        return {};
    }
    const auto& [y, u, v] = picture.planes;
    // libyuv's ARGB is B, G, R, A in memory: QImage's RGB32 on a little-endian machine.
    const auto toArgb = picture.fullRange ? libyuv::J420ToARGB : libyuv::I420ToARGB;
    if (toArgb(y.data, y.stride, u.data, u.stride, v.data, v.stride, image.bits(),
            static_cast<int>(image.bytesPerLine()), picture.width, picture.height)
        != 0) {
        return {};
    }
    return image;
}

} // namespace

QImage pictureImage(const DecodedPicture& picture, QSize size)
{
    if (picture.width <= 0 || picture.height <= 0 || size.isEmpty()) {
        return {};
    }
    if (size == QSize(picture.width, picture.height)) {
        return convert(picture);
    }
    I420Buffer scaled(size.width(), size.height());
    if (!scaled.scaleFrom(picture)) {
        return {};
    }
    return convert(scaled.picture(picture.fullRange));
}

} // namespace tavoro::platform::qt
