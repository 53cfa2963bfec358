#pragma once

#include "programs/tavoro-cli/connect_options.h"

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

namespace tavoro::cli {

// What "tavoro-cli chat" is asked to do. The peer is called in view mode with the password, so that
// only someone who may see that computer chats through this command.
struct ChatOptions {
    std::string target;
    std::string password;
    std::vector<std::string> texts; // sent in order, trimmed; empty ones are skipped
    double listenSeconds = 0;       // how long to stay for answers after sending
};

// Adds the "chat" subcommand; returns it so that the caller can see whether it was chosen.
CLI::App* addChatCommand(CLI::App& app, ChatOptions& options);

// The session that carries the chat: view mode, held for the listening time.
ConnectOptions chatSession(const ChatOptions& options);

} // namespace tavoro::cli
