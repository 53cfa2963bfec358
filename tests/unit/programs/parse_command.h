#pragma once

#include <CLI/CLI.hpp>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace tavoro::cli {

// Parses a tavoro-cli command line (without the program name) into the options that `add` registers;
// nullopt when the command line is refused.
template <typename Options, typename Add>
std::optional<Options> parseCommand(Add add, std::vector<std::string> args)
{
    CLI::App app("test", "tavoro-cli");
    Options options;
    add(app, options);
    std::reverse(args.begin(), args.end()); // CLI11 takes a vector in reverse order
    try {
        app.parse(args);
    } catch (const CLI::ParseError&) {
        return std::nullopt;
    }
    return options;
}

} // namespace tavoro::cli
