#include "programs/tavoro-cli/file_options.h"

namespace tavoro::cli {
namespace {

CLI::App* addFileCommand(CLI::App& app, FileOptions& options, FileAction action, const std::string& name,
    const std::string& description)
{
    auto* command = app.add_subcommand(name, description);
    command->add_option("target", options.target, "the peer's nine-digit ID or phone alias")->required();
    command->add_option("--password", options.password, "the peer's password or SMS code")->required();
    command->parse_complete_callback([&options, action] { options.action = action; });
    return command;
}

} // namespace

void addFileCommands(CLI::App& app, FileOptions& options)
{
    auto* ls = addFileCommand(app, options, FileAction::List, "ls", "list a folder of the peer");
    ls->add_option("path", options.path, "the peer's folder")->required();

    auto* get = addFileCommand(app, options, FileAction::Get, "get", "fetch a file from the peer");
    get->add_option("remote", options.path, "the peer's file")->required();
    get->add_option("local_dir", options.dir, "where to put it (default: the working folder)");

    auto* put = addFileCommand(app, options, FileAction::Put, "put", "send a file to the peer");
    put->add_option("local", options.path, "the file to send")->required()->check(CLI::ExistingFile);
    put->add_option("remote_dir", options.dir, "the peer's folder (default: its downloads folder)");

    auto* mkdir = addFileCommand(app, options, FileAction::MakeDirectory, "mkdir", "make a folder on the peer");
    mkdir->add_option("path", options.path, "the new folder")->required();

    auto* rm = addFileCommand(app, options, FileAction::Remove, "rm", "delete files and folders on the peer");
    rm->add_option("paths", options.items, "what to delete, folders with everything in them")->required();
    rm->add_flag("-y,--yes", options.yes, "do not ask first");
}

ConnectOptions fileSession(const FileOptions& options)
{
    ConnectOptions session;
    session.target = options.target;
    session.password = options.password;
    session.mode = "file";
    session.awaitPicture = false;
    return session;
}

} // namespace tavoro::cli
