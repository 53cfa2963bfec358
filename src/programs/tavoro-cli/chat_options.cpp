#include "programs/tavoro-cli/chat_options.h"

namespace tavoro::cli {

CLI::App* addChatCommand(CLI::App& app, ChatOptions& options)
{
    auto* chat = app.add_subcommand("chat", "call a peer in view mode, send chat messages and print the answers");
    chat->add_option("target", options.target, "the peer's nine-digit ID or phone alias")->required();
    chat->add_option("--password", options.password, "the peer's password or SMS code")->required();
    chat->add_option("--send", options.texts, "a message to send (repeatable, sent in order)")
        ->allow_extra_args(false);
    chat->add_option("--listen", options.listenSeconds, "seconds to wait for answers after sending")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    return chat;
}

ConnectOptions chatSession(const ChatOptions& options)
{
    ConnectOptions session;
    session.target = options.target;
    session.password = options.password;
    session.mode = "view";
    session.seconds = options.listenSeconds;
    return session;
}

} // namespace tavoro::cli
