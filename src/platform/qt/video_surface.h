#pragma once

#include "control/view_state.h"
#include "platform/display_sink.h"
#include "platform/qt/gui_gate.h"
#include "platform/qt/picture_slot.h"

#include <QImage>
#include <QWidget>

#include <cstdint>
#include <memory>

namespace tavoro::platform::qt {

// The remote screen's picture: shows the latest picture of its display sink on black, in the rectangle
// ui::videoRect gives for the display mode, converted at the rectangle's size in device pixels when
// painted. The widget is the GUI thread's only; its sink() may be fed from the decoder's thread and
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

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const QImage& imageFor(const PictureSlot::Held& held, QSize deviceSize);

    std::shared_ptr<PictureSlot> slot_;
    std::shared_ptr<GuiGate> gate_;
    std::shared_ptr<DisplaySink> sink_;
    control::DisplayMode mode_ = control::DisplayMode::aspect;
    std::uint64_t imageGeneration_ = 0; // the picture `image_` was made from
    QImage image_;
};

} // namespace tavoro::platform::qt
