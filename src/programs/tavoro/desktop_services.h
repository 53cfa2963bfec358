#pragma once

#include "app/remote_controller.h"
#include "core/background_queue.h"
#include "core/clock.h"
#include "core/thread_serial_queue.h"
#include "platform/ffmpeg/ffmpeg_h264_decoder.h"
#include "platform/ffmpeg/ffmpeg_image_codec.h"
#include "platform/posix/config_dir.h"
#include "platform/posix/json_file_settings_store.h"
#include "platform/posix/system_random.h"
#include "platform/posix/xdg_user_folders.h"
#include "platform/qt/qt_audio_sink.h"
#include "platform/qt/qt_main_queue.h"
#include "platform/qt/qt_pasteboard.h"
#include "platform/qt/qt_scheduler.h"
#include "programs/common/local_host_media.h"
#include "signaling/tls_websocket_connector.h"

#include <memory>
#include <optional>
#include <string>

namespace tavoro::app {

// What the desktop application stands on: the main queue and timers on Qt's GUI thread, the shared
// background queue, the settings in the configuration folder, the clipboard, what a hosted session
// captures, encodes and injects with, and what a controlling session decodes and plays with. Made on
// the GUI thread after the QApplication, before the application model, and outlives the model.
struct DesktopServices {
    explicit DesktopServices(const std::optional<std::string>& configDir)
        : settings(platform::resolveConfigDir(configDir))
    {
    }

    // The application model's services, the server pinned to `pin` when it is not empty.
    Services services(const std::string& pin)
    {
        Services services{mainQueue, mainScheduler, background.scheduler(), settings, pasteboard, random,
            std::make_shared<core::SteadyClock>(), wallClock, std::make_shared<signaling::TlsWebSocketConnector>(pin),
            &hosting.media(), &controlMedia};
        services.userFolders = &folders;
        return services;
    }

    platform::qt::QtMainQueue mainQueue;
    platform::qt::QtScheduler mainScheduler;
    core::BackgroundQueue background;
    platform::JsonFileSettingsStore settings;
    platform::qt::QtPasteboard pasteboard;
    platform::SystemRandom random;
    core::SystemWallClock wallClock;
    platform::XdgUserFolders folders;
    LocalHostMedia hosting;
    platform::FfmpegH264DecoderFactory decoders;
    platform::FfmpegImageCodec images;
    platform::qt::QtAudioSinkFactory audio;
    control::ControlMedia controlMedia{decoders, images, audio, folders,
        std::make_shared<core::ThreadSerialQueue>("tavoro.ctrl.frames"),
        std::make_shared<core::ThreadSerialQueue>("tavoro.h264.dec")};
};

} // namespace tavoro::app
