#pragma once

// A real controller in the benchmark's process: a RemoteController with the services tavoro-cli gives
// it (FFmpeg decoding, a settings folder of its own, the rendezvous server pinned by fingerprint),
// whose frame and decode queues and platform decoder are timed (timed_media.h).
//
// Threads: the thread that creates it is its main thread, which alone calls its methods; the
// controller's main-thread work runs only inside runFor and runUntil.
#include "timed_media.h"

#include "app/remote_controller.h"
#include "core/asio_main_queue.h"
#include "core/asio_scheduler.h"
#include "core/background_queue.h"
#include "core/thread_serial_queue.h"
#include "platform/ffmpeg/ffmpeg_h264_decoder.h"
#include "platform/ffmpeg/ffmpeg_image_codec.h"
#include "platform/null_audio_sink.h"
#include "platform/pasteboard.h"
#include "platform/posix/json_file_settings_store.h"
#include "platform/posix/system_random.h"
#include "platform/posix/xdg_user_folders.h"
#include "programs/common/installation_options.h"
#include "signaling/tls_websocket_connector.h"
#include "support/rendezvous_process.h"
#include "support/temp_dir.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace tavoro::bench {

class BenchController {
public:
    explicit BenchController(const test::RendezvousProcess& server)
        : mainQueue_(context_), mainScheduler_(context_.get_executor()), settings_(config_.path()),
          timedDecoders_(decoders_),
          media_{timedDecoders_, images_, audio_, folders_,
              std::make_shared<TimedFrameQueue>(std::make_shared<core::ThreadSerialQueue>("tavoro.ctrl.frames")),
              std::make_shared<TimedDecodeQueue>(std::make_shared<core::ThreadSerialQueue>("tavoro.h264.dec"))}
    {
        app::InstallationOptions options;
        options.server = "127.0.0.1:" + std::to_string(server.wss);
        options.serverCertSha256 = server.fingerprint;
        options.stun = {"127.0.0.1:" + std::to_string(server.stun)};
        app::ResolvedInstallation installation;
        if (auto resolved = app::resolveInstallation(options, nullptr)) {
            installation = std::move(*resolved);
        } else {
            error_ = resolved.error();
        }
        controller_ = app::RemoteController::create(
            app::Services{mainQueue_, mainScheduler_, background_.scheduler(), settings_, pasteboard_, random_,
                std::make_shared<core::SteadyClock>(), wallClock_,
                std::make_shared<signaling::TlsWebSocketConnector>(installation.pin), nullptr, &media_},
            installation.deployment);
        controller_->start();
    }

    ~BenchController()
    {
        if (controller_->controlSession()) {
            controller_->endControl();
            runFor(std::chrono::milliseconds(200));
        }
        controller_->signaling().shutdown(std::chrono::seconds(2));
    }
    BenchController(const BenchController&) = delete;
    BenchController& operator=(const BenchController&) = delete;

    const std::string& error() const { return error_; }
    app::RemoteController& controller() { return *controller_; }

    void runFor(std::chrono::steady_clock::duration length)
    {
        context_.restart();
        context_.run_for(length);
    }
    // Runs the main thread's work until the condition holds (checked every 5 ms) or the limit passes.
    bool runUntil(const std::function<bool()>& done, std::chrono::steady_clock::duration limit)
    {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            if (std::chrono::steady_clock::now() >= end) {
                return false;
            }
            runFor(std::chrono::milliseconds(5));
        }
        return true;
    }

private:
    test::TempDir config_;
    boost::asio::io_context context_;
    // Keeps runFor running for its whole length when no work is pending.
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> keepRunning_{context_.get_executor()};
    core::AsioMainQueue mainQueue_;
    core::AsioScheduler mainScheduler_;
    core::BackgroundQueue background_;
    platform::JsonFileSettingsStore settings_;
    platform::MemoryPasteboard pasteboard_;
    platform::SystemRandom random_;
    core::SystemWallClock wallClock_;
    platform::FfmpegH264DecoderFactory decoders_;
    TimedDecoderFactory timedDecoders_;
    platform::FfmpegImageCodec images_;
    platform::NullAudioSinkFactory audio_;
    platform::XdgUserFolders folders_;
    control::ControlMedia media_;
    std::string error_;
    std::shared_ptr<app::RemoteController> controller_; // last: destroyed first
};

} // namespace tavoro::bench
