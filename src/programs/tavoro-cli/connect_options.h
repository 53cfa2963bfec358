#pragma once

#include <CLI/CLI.hpp>

#include <optional>
#include <string>

namespace tavoro::cli {

// What "tavoro-cli connect" is asked to do.
struct ConnectOptions {
    std::string target;   // a nine-digit ID or a phone alias
    std::string password; // or SMS code
    std::string mode = "control";
    std::optional<double> seconds;   // how long to hold the session; until Ctrl-C when absent
    std::optional<std::string> record;
    std::optional<std::string> screenshot;
    double screenshotAfter = 1.0;    // seconds after the first decoded picture
    bool stats = false;
    std::optional<std::string> input; // a file of input events, "-" for standard input
    std::optional<std::string> audio; // a WAV file for the host's sound; dropped when absent
    bool awaitPicture = true;         // the run fails without a decoded picture soon after the answer
};

// Adds the "connect" subcommand; returns it so that the caller can see whether it was chosen.
CLI::App* addConnectCommand(CLI::App& app, ConnectOptions& options);

} // namespace tavoro::cli
