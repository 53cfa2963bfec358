#pragma once

#include "diagnostics/capture_diagnostic.h"
#include "diagnostics/inject_diagnostic.h"

#include <CLI/CLI.hpp>

#include <optional>

namespace tavoro::diagnostics {

// The media diagnostics as subcommands of a program's command line: "capture" and "inject".
struct MediaCommands {
    CaptureOptions capture;
    InjectOptions inject;
    CLI::App* captureCommand = nullptr;
    CLI::App* injectCommand = nullptr;
};

void addMediaCommands(CLI::App& app, MediaCommands& commands);

// Runs the subcommand the command line chose, logging to stderr only; nothing when it chose none.
std::optional<int> runChosenMediaCommand(const MediaCommands& commands);

} // namespace tavoro::diagnostics
