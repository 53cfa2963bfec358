#pragma once

#include "control/view_state.h"
#include "platform/display_sink.h"
#include "platform/qt/gui_gate.h"
#include "platform/qt/picture_slot.h"
#include "ui/logic/geometry.h"

#include <QImage>
#include <QWidget>

#include <cstdint>
#include <memory>

namespace tavoro::platform::qt {

// The remote screen's picture: shows the latest picture of its display sink on black, in the rectangle
// ui::videoRect gives for the display mode and the remote screen's size, converted at the rectangle's
// size in device pixels when painted. The remote size is the session's once set (so that the picture
// and the input mapped through pictureRect agree); until then the latest picture's size stands in. The widget is the GUI thread's only; its sink() may be fed from the decoder's thread and
// outlives the widget harmlessly (pictures then go nowhere).
class VideoSurface final : public QWidget {
public:
    explicit VideoSurface(QWidget* parent = nullptr);
    ~VideoSurface() override;
    VideoSurface(const VideoSurface&) = delete;
    VideoSurface& operator=(const VideoSurface&) = delete;

    std::shared_ptr<DisplaySink> sink() const { return sink_; }
    void setDisplayMode(control::DisplayMode mode);
    control::DisplayMode displayMode() const { return mode_; }
    // The remote screen's size in pixels; a side that is not positive means not known yet.
    void setRemoteSize(int width, int height);
    // Where the picture is drawn now, in the widget's logical coordinates.
    ui::RectF pictureRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    ui::RectF rectFor(const PictureSlot::Held& held) const;
    const QImage& imageFor(const PictureSlot::Held& held, QSize deviceSize);

    std::shared_ptr<PictureSlot> slot_;
    std::shared_ptr<GuiGate> gate_;
    std::shared_ptr<DisplaySink> sink_;
    control::DisplayMode mode_ = control::DisplayMode::aspect;
    int remoteW_ = 0;
    int remoteH_ = 0;
    std::uint64_t imageGeneration_ = 0; // the picture `image_` was made from
    QImage image_;
};

} // namespace tavoro::platform::qt
