#include "platform/qt/video_surface.h"

#include "platform/qt/picture_image.h"
#include "ui/logic/view_rect.h"

#include <QPainter>

#include <atomic>
#include <cmath>

namespace tavoro::platform::qt {
namespace {

// Puts pictures into the slot on the decoder's thread and asks the surface for a repaint, at most one
// request queued at a time.
class SurfaceSink final : public DisplaySink, public std::enable_shared_from_this<SurfaceSink> {
public:
    SurfaceSink(std::shared_ptr<PictureSlot> slot, std::shared_ptr<GuiGate> gate, QWidget& surface)
        : slot_(std::move(slot)), gate_(std::move(gate)), surface_(surface)
    {
    }

    void present(const DecodedPicture& picture) override
    {
        slot_->put(picture);
        requestRepaint();
    }

    // The next picture follows at once; repainting black in between would only flicker.
    void flush() override { slot_->drop(); }

    void clear() override
    {
        slot_->drop();
        requestRepaint();
    }

private:
    void requestRepaint()
    {
        if (repaintQueued_.exchange(true)) {
            return;
        }
        // Queued on the surface itself, so the task only runs while the surface exists.
        gate_->post([self = shared_from_this()] {
            self->repaintQueued_ = false;
            self->surface_.update();
        });
    }

    std::shared_ptr<PictureSlot> slot_;
    std::shared_ptr<GuiGate> gate_;
    QWidget& surface_;
    std::atomic<bool> repaintQueued_{false};
};

QSize deviceSize(const ui::RectF& rect, double pixelRatio)
{
    return {static_cast<int>(std::lround(rect.width * pixelRatio)), static_cast<int>(std::lround(rect.height * pixelRatio))};
}

} // namespace

VideoSurface::VideoSurface(QWidget* parent)
    : QWidget(parent), slot_(std::make_shared<PictureSlot>()), gate_(std::make_shared<GuiGate>(*this)),
      sink_(std::make_shared<SurfaceSink>(slot_, gate_, *this))
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

VideoSurface::~VideoSurface() { gate_->close(); }

void VideoSurface::setDisplayMode(control::DisplayMode mode)
{
    if (mode_ != mode) {
        mode_ = mode;
        update();
    }
}

void VideoSurface::setRemoteSize(int width, int height)
{
    if (remoteW_ != width || remoteH_ != height) {
        remoteW_ = width;
        remoteH_ = height;
        update();
    }
}

ui::RectF VideoSurface::pictureRect() const { return rectFor(slot_->latest()); }

ui::RectF VideoSurface::rectFor(const PictureSlot::Held& held) const
{
    int width = remoteW_;
    int height = remoteH_;
    if ((width <= 0 || height <= 0) && held.picture) {
        width = held.picture->width;
        height = held.picture->height;
    }
    return ui::videoRect(mode_, width, height, {static_cast<double>(this->width()), static_cast<double>(this->height())},
        devicePixelRatioF());
}

void VideoSurface::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    const auto held = slot_->latest();
    if (!held.picture) {
        return;
    }
    const auto target = rectFor(held);
    const QImage& image = imageFor(held, deviceSize(target, devicePixelRatioF()));
    if (!image.isNull()) {
        painter.drawImage(QRectF(target.x, target.y, target.width, target.height), image);
    }
}

const QImage& VideoSurface::imageFor(const PictureSlot::Held& held, QSize size)
{
    if (held.generation != imageGeneration_ || image_.size() != size) {
        image_ = pictureImage(*held.picture, size);
        imageGeneration_ = held.generation;
    }
    return image_;
}

} // namespace tavoro::platform::qt
