#pragma once

#include "host/host_session.h"
#include "platform/ffmpeg/x264_encoder.h"
#include "platform/input_sink.h"
#include "platform/linux/x11_capture_source.h"
#include "platform/linux/x11_permissions.h"

#include <memory>

namespace tavoro::app {

// What hosting on this computer stands on: the X screen, the x264 encoder, input through XTEST (none
// when the X server cannot take it: the permission check then tells the user), the X permission checks
// and this computer's name. Made once in main before the application model, and outlives it; the
// parts are safe or serialised as host::HostSession expects.
class LocalHostMedia {
public:
    LocalHostMedia();
    LocalHostMedia(const LocalHostMedia&) = delete;
    LocalHostMedia& operator=(const LocalHostMedia&) = delete;

    host::HostMedia& media() { return media_; }
    platform::Permissions& permissions() { return permissions_; }

private:
    platform::X11CaptureSource capture_;
    platform::X264EncoderFactory encoders_;
    std::unique_ptr<platform::InputSink> input_;
    platform::X11Permissions permissions_;
    host::HostMedia media_;
};

} // namespace tavoro::app
