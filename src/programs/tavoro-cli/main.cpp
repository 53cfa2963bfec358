// tavoro-cli: a headless controller. "connect" calls a peer, receives and decodes its screen, records,
// takes a screenshot, replays input and prints the status line; "chat" calls a peer in view mode, sends
// it chat messages and prints the answers; "ls", "get", "put", "mkdir" and "rm" work on the peer's files
// in a file-mode session. All exit with a code a script can read.
#include "app/remote_controller.h"
#include "core/log.h"
#include "core/thread_serial_queue.h"
#include "platform/ffmpeg/ffmpeg_h264_decoder.h"
#include "platform/ffmpeg/ffmpeg_image_codec.h"
#include "platform/null_audio_sink.h"
#include "platform/posix/wav_file_audio_sink.h"
#include "programs/common/installation_options.h"
#include "programs/common/program_services.h"
#include "programs/tavoro-cli/chat_options.h"
#include "programs/tavoro-cli/chat_run.h"
#include "programs/tavoro-cli/connect_run.h"
#include "programs/tavoro-cli/file_options.h"
#include "programs/tavoro-cli/file_run.h"

#include <boost/asio/signal_set.hpp>

#include <cstdlib>
#include <iostream>
#include <unistd.h>

namespace {

using namespace tavoro;

// What rides along with the session, if anything.
struct Riders {
    const std::vector<std::string>* chatTexts = nullptr;
    const cli::FileOptions* files = nullptr;
};

// Runs a session with its riders.
int runConnect(const app::InstallationOptions& options, const cli::ConnectOptions& connect, Riders riders = {})
{
    auto installation = app::resolveInstallation(options, std::getenv("TAVORO_STUN"));
    if (!installation) {
        std::cerr << "tavoro-cli: " << installation.error() << "\n";
        return cli::kBadUsage;
    }
    log::setup("tavoro-cli", true);

    app::ProgramServices program(options.configDir);
    platform::FfmpegH264DecoderFactory decoders;
    platform::FfmpegImageCodec images;
    platform::NullAudioSinkFactory noAudio;
    std::optional<platform::WavFileAudioSinkFactory> wavAudio;
    if (connect.audio) {
        wavAudio.emplace(*connect.audio);
    }
    platform::AudioSinkFactory& audio = wavAudio ? static_cast<platform::AudioSinkFactory&>(*wavAudio) : noAudio;
    control::ControlMedia media{decoders, images, audio, program.folders,
        std::make_shared<core::ThreadSerialQueue>("tavoro.ctrl.frames"),
        std::make_shared<core::ThreadSerialQueue>("tavoro.h264.dec")};

    auto controller = app::RemoteController::create(
        program.services(installation->pin, nullptr, &media),
        installation->deployment);
    // A file command's own output is what stdout carries; the session's lines go to stderr.
    cli::ConnectRun run(program.mainContext, *controller, connect, riders.files ? std::cerr : std::cout);
    if (auto prepared = run.prepare(); !prepared) {
        std::cerr << "tavoro-cli: " << prepared.error() << "\n";
        return cli::kBadUsage;
    }
    std::optional<cli::ChatRun> chat;
    if (riders.chatTexts) {
        chat.emplace(*controller, *riders.chatTexts, std::cout, std::cerr);
        chat->start(); // before the session run, so that the texts leave before a "bye"
    }
    std::optional<cli::FileRun> files;
    if (riders.files) {
        files.emplace(program.mainContext, *controller, program.mainQueue, program.mainScheduler, *riders.files,
            std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1, [&run](int code) { run.finish(code); });
        files->start();
    }
    boost::asio::signal_set stopSignals(program.mainContext, SIGINT, SIGTERM);
    stopSignals.async_wait([&](const boost::system::error_code& error, int) {
        if (!error) {
            run.interrupt();
        }
    });
    run.start();
    controller->start();
    program.mainContext.run();
    return run.exitCode().value_or(cli::kSessionEnded);
}

// "rm" asks on the terminal (or reads the answer from standard input) unless -y was given.
bool confirmRemoval(const std::vector<std::string>& items)
{
    std::cerr << "删除对方的";
    for (const auto& item : items) {
        std::cerr << " " << item;
    }
    std::cerr << "（文件夹连同其中的一切）？[y/N] " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer) || (answer != "y" && answer != "Y" && answer != "yes")) {
        std::cerr << "tavoro-cli: 已取消\n";
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    CLI::App cli("Tavoro headless controller: calls a peer through the rendezvous server.", "tavoro-cli");
    cli.set_version_flag("--version", std::string("tavoro-cli ") + tavoro::signaling::Signaling::kVersion);
    cli.require_subcommand(1);
    tavoro::app::InstallationOptions options;
    tavoro::app::addInstallationOptions(cli, options);
    tavoro::cli::ConnectOptions connect;
    tavoro::cli::addConnectCommand(cli, connect);
    tavoro::cli::ChatOptions chat;
    auto* chatCommand = tavoro::cli::addChatCommand(cli, chat);
    tavoro::cli::FileOptions files;
    tavoro::cli::addFileCommands(cli, files);
    if (auto exit = tavoro::app::parseCommandLine(cli, argc, argv)) {
        return *exit;
    }
    if (chatCommand->parsed()) {
        return runConnect(options, tavoro::cli::chatSession(chat), {.chatTexts = &chat.texts});
    }
    if (files.action) {
        if (files.action == tavoro::cli::FileAction::Remove && !files.yes && !confirmRemoval(files.items)) {
            return tavoro::cli::kNotDone;
        }
        return runConnect(options, tavoro::cli::fileSession(files), {.files = &files});
    }
    return runConnect(options, connect);
}
