#pragma once

#include "programs/tavoro-cli/connect_options.h"

#include <CLI/CLI.hpp>

#include <optional>
#include <string>
#include <vector>

namespace tavoro::cli {

enum class FileAction { List, Get, Put, MakeDirectory, Remove };

// What one of "tavoro-cli ls / get / put / mkdir / rm" is asked to do, on a file-mode session.
struct FileOptions {
    std::optional<FileAction> action; // set by the subcommand chosen
    std::string target;
    std::string password;
    std::string path;               // ls, mkdir: the remote folder; get: the remote file; put: the local file
    std::vector<std::string> items; // rm: the remote items
    std::string dir;                // get: the local folder (the working folder when empty); put: the remote folder
    bool yes = false;               // rm without asking
};

// Adds the five subcommands, all writing into options.
void addFileCommands(CLI::App& app, FileOptions& options);

// The session that carries them: file mode, held until the command is done.
ConnectOptions fileSession(const FileOptions& options);

} // namespace tavoro::cli
