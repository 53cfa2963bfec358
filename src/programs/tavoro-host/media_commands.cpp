#include "programs/tavoro-host/media_commands.h"

#include "core/log.h"

#include <iostream>

namespace tavoro::diagnostics {

void addMediaCommands(CLI::App& app, MediaCommands& commands)
{
    auto* capture = app.add_subcommand("capture",
        "record this screen through the capturer and encoder into a raw H.264 file and print per-stage timings");
    capture->add_option("--frames", commands.capture.frames, "frames to record")->required();
    capture->add_option("--out", commands.capture.out, "raw Annex-B H.264 file to write")->required();
    capture->add_option("--monitor", commands.capture.monitor, "display index (wraps around)")->capture_default_str();
    capture->add_option("--fps", commands.capture.fps, "frames per second")->capture_default_str();
    capture->add_option("--bitrate", commands.capture.bitrateKbps, "bitrate in kbit/s")->capture_default_str();
    capture->add_option("--seconds", commands.capture.seconds, "stop after this time even with fewer frames")
        ->capture_default_str();
    commands.captureCommand = capture;

    auto* inject = app.add_subcommand("inject", "replay input messages (one JSON object per argument) on this display");
    inject->add_option("messages", commands.inject.messages, "input messages, e.g. '{\"kind\":\"mouse_move\",\"x\":0.5,\"y\":0.5}'")
        ->required();
    inject->add_option("--monitor", commands.inject.monitor, "display the positions map onto at first")
        ->capture_default_str();
    commands.injectCommand = inject;
}

std::optional<int> runChosenMediaCommand(const MediaCommands& commands)
{
    const bool capture = commands.captureCommand && commands.captureCommand->parsed();
    const bool inject = commands.injectCommand && commands.injectCommand->parsed();
    if (!capture && !inject) {
        return std::nullopt;
    }
    log::setup(capture ? "tavoro-host capture" : "tavoro-host inject", false);
    return capture ? runCaptureDiagnostic(commands.capture, std::cout, std::cerr)
                   : runInjectDiagnostic(commands.inject, std::cout, std::cerr);
}

} // namespace tavoro::diagnostics
