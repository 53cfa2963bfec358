#include "programs/tavoro-cli/connect_options.h"

namespace tavoro::cli {

CLI::App* addConnectCommand(CLI::App& app, ConnectOptions& options)
{
    auto* connect = app.add_subcommand("connect", "call a peer and hold a remote session");
    connect->add_option("target", options.target, "the peer's nine-digit ID or phone alias")->required();
    connect->add_option("--password", options.password, "the peer's password or SMS code")->required();
    connect->add_option("--mode", options.mode, "control, view or file (the peer's files, no input)")
        ->check(CLI::IsMember({"control", "view", "file"}))
        ->capture_default_str();
    connect->add_option("--seconds", options.seconds, "hold the session this long (default: until Ctrl-C)")
        ->check(CLI::PositiveNumber);
    connect->add_option("--record", options.record, "record the video stream (raw H.264) to FILE");
    connect->add_option("--screenshot", options.screenshot, "save a PNG screenshot to FILE");
    connect->add_option("--screenshot-after", options.screenshotAfter,
               "seconds after the first picture to take the screenshot (taken when the run ends, if sooner)")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    connect->add_flag("--stats", options.stats, "print the status line once a second");
    connect->add_option("--input", options.input,
        "replay input events from FILE or - (one JSON object a line; {\"sleep\": seconds} waits)");
    connect->add_option("--audio", options.audio, "write the host's sound to a WAV file (default: dropped)");
    return connect;
}

} // namespace tavoro::cli
