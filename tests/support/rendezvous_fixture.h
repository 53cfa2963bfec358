#pragma once

#include "server/file_sms_gateway.h"
#include "server/rendezvous_server.h"
#include "support/temp_dir.h"
#include "support/wss_test_client.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>

namespace tavoro::server {

// The code in the last line of an SMS file (FileSmsGateway).
inline std::string lastSmsCode(const std::filesystem::path& file)
{
    std::ifstream in(file);
    std::string line;
    std::string last;
    while (std::getline(in, line)) {
        last = line;
    }
    const auto colon = last.rfind(": ");
    return colon == std::string::npos ? std::string() : last.substr(colon + 2);
}

// A binary message for the server to relay: marker, the target's nine-digit ID, then the body.
inline std::vector<std::uint8_t> relayMessage(const std::string& to, std::vector<std::uint8_t> body, std::uint8_t marker = 0xFE)
{
    body.insert(body.begin(), to.begin(), to.end());
    body.insert(body.begin(), marker);
    return body;
}

// The rendezvous server in this process on 127.0.0.1 with every port chosen by the system, its SMS
// file in a temporary folder, and a loop for the test's WebSocket clients.
class RendezvousFixture : public ::testing::Test {
protected:
    RendezvousFixture()
    {
        config.listenAddress = "127.0.0.1";
        config.listenPort = 0;
        config.relayPort = 0;
        config.stunPort = 0;
        config.identity = *tls::makeSelfSigned("rendezvous-test");
    }

    void SetUp() override { ASSERT_TRUE(startServer()); }

    // A new server on `config`, in place of the one running.
    bool startServer()
    {
        server.reset();
        server = std::make_unique<RendezvousServer>(config, sms);
        const auto started = server->start();
        EXPECT_TRUE(started) << started.error();
        return started.ok();
    }

    // The code in the last line of the SMS file.
    std::string lastSmsCode() const { return server::lastSmsCode(state.path() / "sms.txt"); }

    std::unique_ptr<test::WssTestClient> connect() { return test::WssTestClient::connect(clients, server->wssPort()); }

    // A client that has said "hello" as deviceId and is bound.
    std::unique_ptr<test::WssTestClient> online(const std::string& deviceId)
    {
        auto client = connect();
        EXPECT_TRUE(client && client->hello(deviceId)) << "hello " << deviceId;
        return client;
    }

    test::TempDir state;
    ServerConfig config;
    FileSmsGateway sms{state.path() / "sms.txt"};
    core::EventLoopThread clients{"test.clients"};
    std::unique_ptr<RendezvousServer> server;
};

} // namespace tavoro::server
