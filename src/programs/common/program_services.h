#pragma once

#include "app/remote_controller.h"
#include "core/asio_main_queue.h"
#include "core/asio_scheduler.h"
#include "core/background_queue.h"
#include "platform/pasteboard.h"
#include "platform/posix/config_dir.h"
#include "platform/posix/json_file_settings_store.h"
#include "platform/posix/system_random.h"
#include "platform/posix/xdg_user_folders.h"
#include "signaling/tls_websocket_connector.h"

#include <boost/asio/io_context.hpp>

#include <optional>
#include <string>

namespace tavoro::app {

// What every headless installation program stands on: the main loop, run on the thread that makes
// this, the shared background queue, the settings in the configuration folder, and the plain
// platform services. Made once in main, before the application model, and outlives it.
struct ProgramServices {
    explicit ProgramServices(const std::optional<std::string>& configDir)
        : settings(platform::resolveConfigDir(configDir))
    {
    }

    // The application model's services, the server pinned to `pin` when it is not empty.
    Services services(const std::string& pin, host::HostMedia* hostMedia, control::ControlMedia* controlMedia)
    {
        Services services{mainQueue, mainScheduler, background.scheduler(), settings, pasteboard, random,
            std::make_shared<core::SteadyClock>(), wallClock, std::make_shared<signaling::TlsWebSocketConnector>(pin),
            hostMedia, controlMedia};
        services.userFolders = &folders;
        return services;
    }

    boost::asio::io_context mainContext;
    core::AsioMainQueue mainQueue{mainContext};
    core::AsioScheduler mainScheduler{mainContext.get_executor()};
    core::BackgroundQueue background;
    platform::JsonFileSettingsStore settings;
    platform::MemoryPasteboard pasteboard;
    platform::SystemRandom random;
    core::SystemWallClock wallClock;
    platform::XdgUserFolders folders;
};

} // namespace tavoro::app
