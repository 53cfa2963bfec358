// tavoro-host: a headless installation. It registers with the rendezvous server, prints every change
// of its status line and every chat message it receives ("ID: text") on stdout, and runs until SIGINT
// or SIGTERM.
#include "app/remote_controller.h"
#include "chat/incoming_chat_lines.h"
#include "core/log.h"
#include "programs/common/local_host_media.h"
#include "programs/common/program_services.h"
#include "programs/tavoro-host/host_options.h"
#include "programs/tavoro-host/media_commands.h"

#include <boost/asio/signal_set.hpp>

#include <cstdlib>
#include <iostream>

namespace {

using namespace tavoro;

int runHost(const app::InstallationOptions& options, const app::HostingOptions& hosting)
{
    if (auto checked = app::checkHostingOptions(hosting); !checked) {
        std::cerr << "tavoro-host: " << checked.error() << "\n";
        return 2;
    }
    auto installation = app::resolveInstallation(options, std::getenv("TAVORO_STUN"));
    if (!installation) {
        std::cerr << "tavoro-host: " << installation.error() << "\n";
        return 2;
    }
    log::setup("tavoro-host", true);

    app::ProgramServices program(options.configDir);
    app::LocalHostMedia hostMedia;
    auto services = program.services(installation->pin, &hostMedia.media(), nullptr);
    app::applyHostingServices(hosting, services);
    auto controller = app::RemoteController::create(std::move(services), installation->deployment);
    auto printStatus = [](const std::string& text) { std::cout << text << std::endl; };
    auto subscription = controller->status.subscribe(printStatus);
    printStatus(controller->status.get());
    chat::IncomingChatLines chatLines;
    auto chatSubscription = controller->chat().conversations.subscribe([&chatLines](const chat::Conversations& all) {
        for (const auto& line : chatLines.take(all)) {
            std::cout << line << std::endl;
        }
    });

    boost::asio::signal_set stopSignals(program.mainContext, SIGINT, SIGTERM);
    stopSignals.async_wait([&](const boost::system::error_code&, int) {
        if (controller->hosting()) {
            controller->endHost(); // every controller is told, as when the user ends hosting
        }
        controller->signaling().shutdown(std::chrono::seconds(2));
        program.mainContext.stop();
    });
    controller->start();
    app::applyHostingOptions(hosting, *controller);
    program.mainContext.run();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    CLI::App cli("Tavoro headless installation: shares this computer through the rendezvous server.", "tavoro-host");
    cli.set_version_flag("--version", std::string("tavoro-host ") + tavoro::signaling::Signaling::kVersion);
    tavoro::app::InstallationOptions options;
    tavoro::app::addInstallationOptions(cli, options);
    tavoro::app::HostingOptions hosting;
    tavoro::app::addHostingOptions(cli, hosting);
    tavoro::diagnostics::MediaCommands media;
    tavoro::diagnostics::addMediaCommands(cli, media);
    if (auto exit = tavoro::app::parseCommandLine(cli, argc, argv)) {
        return *exit;
    }
    if (auto status = tavoro::diagnostics::runChosenMediaCommand(media)) {
        return *status;
    }
    return runHost(options, hosting);
}
