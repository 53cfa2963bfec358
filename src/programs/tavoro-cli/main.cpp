// tavoro-cli: a headless controller. "connect" calls a peer, receives and decodes its screen, records,
// takes a screenshot, replays input and prints the status line; "chat" calls a peer in view mode, sends
// it chat messages and prints the answers. Both exit with a code a script can read.
#include "app/remote_controller.h"
#include "core/log.h"
#include "core/thread_serial_queue.h"
#include "platform/ffmpeg/ffmpeg_h264_decoder.h"
#include "platform/ffmpeg/ffmpeg_image_codec.h"
#include "platform/null_audio_sink.h"
#include "platform/posix/wav_file_audio_sink.h"
#include "platform/posix/xdg_user_folders.h"
#include "programs/common/installation_options.h"
#include "programs/common/program_services.h"
#include "programs/tavoro-cli/chat_options.h"
#include "programs/tavoro-cli/chat_run.h"
#include "programs/tavoro-cli/connect_run.h"

#include <boost/asio/signal_set.hpp>

#include <cstdlib>
#include <iostream>

namespace {

using namespace tavoro;

// Runs a session; with chatTexts, a chat run rides along.
int runConnect(const app::InstallationOptions& options, const cli::ConnectOptions& connect,
    const std::vector<std::string>* chatTexts = nullptr)
{
    app::Deployment deployment;
    std::string pin;
    if (auto error = app::resolveInstallation(options, std::getenv("TAVORO_STUN"), deployment, pin); !error.empty()) {
        std::cerr << "tavoro-cli: " << error << "\n";
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
    platform::XdgUserFolders folders;
    control::ControlMedia media{decoders, images, audio, folders,
        std::make_shared<core::ThreadSerialQueue>("tavoro.ctrl.frames"),
        std::make_shared<core::ThreadSerialQueue>("tavoro.h264.dec")};

    auto controller = app::RemoteController::create(
        program.services(pin, nullptr, &media),
        deployment);
    cli::ConnectRun run(program.mainContext, *controller, connect, std::cout);
    if (auto error = run.prepare()) {
        std::cerr << "tavoro-cli: " << *error << "\n";
        return cli::kBadUsage;
    }
    std::optional<cli::ChatRun> chat;
    if (chatTexts) {
        chat.emplace(*controller, *chatTexts, std::cout, std::cerr);
        chat->start(); // before the session run, so that the texts leave before a "bye"
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
    if (auto exit = tavoro::app::parseCommandLine(cli, argc, argv)) {
        return *exit;
    }
    if (chatCommand->parsed()) {
        return runConnect(options, tavoro::cli::chatSession(chat), &chat.texts);
    }
    return runConnect(options, connect);
}
