#pragma once

#include "core/event_loop.h"
#include "support/child_process.h"
#include "support/rendezvous_process.h"
#include "support/scripted_controller.h"
#include "support/temp_dir.h"
#include "support/xvfb.h"

#include <memory>
#include <regex>
#include <string>
#include <vector>

namespace tavoro::test {

// A real tavoro-rendezvous on loopback and a real tavoro-host sharing a private Xvfb, with scripted
// controllers calling it: the whole path a remote session takes. Used by tests and benchmarks.
class HostingSetup {
public:
    // hostArgs come after the server, pin, STUN and settings options.
    HostingSetup(const std::string& rendezvousBin, const std::string& hostBin, int screenWidth, int screenHeight,
        const std::vector<std::string>& hostArgs = {"--password", "pw42"})
        : screen(screenWidth, screenHeight), server(startRendezvous(rendezvousBin, rendezvousArgs(state)))
    {
        std::vector<std::string> args{"--server", "127.0.0.1:" + std::to_string(server.wss), "--server-cert-sha256",
            server.fingerprint, "--stun", "127.0.0.1:" + std::to_string(server.stun), "--config-dir",
            config.path().string()};
        args.insert(args.end(), hostArgs.begin(), hostArgs.end());
        host = std::make_unique<ChildProcess>(hostBin, args,
            std::vector<std::string>{"DISPLAY=" + screen.display(), "HOME=" + home.path().string(),
                "XDG_CONFIG_HOME=" + (home.path() / ".config").string()});
        std::smatch parts;
        const std::string online = host->waitForStdout("在线 · ID ", std::chrono::seconds(20));
        if (std::regex_search(online, parts, std::regex("在线 · ID ([0-9]{9}) · 密码 (.+)"))) {
            hostId = parts[1];
            password = parts[2];
        }
    }

    bool ready() const { return screen.running() && !hostId.empty(); }

    std::unique_ptr<ScriptedController> controller(const std::string& deviceId)
    {
        return ScriptedController::connect(
            clients, {static_cast<std::uint16_t>(server.wss), deviceId, {{"127.0.0.1", static_cast<std::uint16_t>(server.stun)}}});
    }

    Xvfb screen;
    TempDir state;
    TempDir config;
    TempDir home; // the host's home folder: received files land in its Downloads
    core::EventLoopThread clients{"test.clients"};
    RendezvousProcess server;
    std::unique_ptr<ChildProcess> host;
    std::string hostId;
    std::string password;
};

} // namespace tavoro::test
