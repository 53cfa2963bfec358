#pragma once

#include "app/remote_controller.h"
#include "platform/fake/manual_clock.h"
#include "platform/fake/manual_main_queue.h"
#include "platform/fake/manual_serial_queue.h"
#include "platform/fake/memory_settings_store.h"
#include "platform/posix/system_random.h"
#include "support/fake_websocket.h"

#include <gtest/gtest.h>

#include <thread>

namespace tavoro::app::test {

// A RemoteController on fakes: the test thread is the main thread, main and background timers run on
// one manual clock (each scheduler runs its own due timers when advanced), and the signaling
// connection's sockets are fake tasks the test opens, feeds and closes by hand; a peer's file requests
// wait on a manual queue until the test drains fileWorker.
class ControllerTest : public ::testing::Test {
protected:
    platform::fake::ManualMainQueue mainQueue;
    std::shared_ptr<platform::fake::ManualClock> clock = std::make_shared<platform::fake::ManualClock>();
    platform::fake::ManualScheduler scheduler{*clock};
    platform::fake::ManualScheduler backgroundScheduler{*clock};
    platform::fake::MemorySettingsStore settings;
    platform::MemoryPasteboard pasteboard;
    platform::SystemRandom random;
    platform::fake::ManualWallClock wallClock{std::chrono::system_clock::time_point(std::chrono::milliseconds(1765000000123))};
    std::shared_ptr<tavoro::test::FakeWebSocketConnector> connector = std::make_shared<tavoro::test::FakeWebSocketConnector>();
    host::HostMedia* hostMedia = nullptr;
    control::ControlMedia* controlMedia = nullptr;
    platform::fake::ManualSerialQueue fileWorker;
    const platform::UserFolders* userFolders = nullptr; // without them the controller moves no files
    std::shared_ptr<RemoteController> controller;

    std::shared_ptr<RemoteController> makeController()
    {
        Services services{mainQueue, scheduler, backgroundScheduler, settings, pasteboard, random, clock, wallClock,
            connector, hostMedia, controlMedia};
        services.fileWorker = &fileWorker;
        services.userFolders = userFolders;
        return RemoteController::create(std::move(services), Deployment{"wss://rendezvous.test:8443/ws", "qxm", {}});
    }

    // Starts the controller and opens its first socket.
    void startOnline()
    {
        controller = makeController();
        controller->start();
        connector->last()->fireOpen();
        mainQueue.drain();
    }

    // Delivers a server message the way the signaling thread does: from another thread, then the
    // main queue runs what it posted.
    void deliver(const nlohmann::json& message)
    {
        std::thread([&] { connector->last()->fireText(message.dump()); }).join();
        mainQueue.drain();
    }

    // Every message of this type sent on any socket so far, in order.
    std::vector<nlohmann::json> sentOfType(const std::string& type) const
    {
        std::vector<nlohmann::json> out;
        for (std::size_t i = 0; i < connector->count(); ++i) {
            for (const auto& text : connector->task(i)->texts()) {
                if (auto message = nlohmann::json::parse(text); message["type"] == type) {
                    out.push_back(std::move(message));
                }
            }
        }
        return out;
    }
};

} // namespace tavoro::app::test
