#pragma once

#include "server/file_sms_gateway.h"
#include "server/rendezvous_server.h"
#include "support/temp_dir.h"
#include "support/wss_test_client.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>

namespace tavoro::server {

// A binary message for the server to relay: marker, the target's nine-digit ID, then the body.
inline std::vector<std::uint8_t> relayMessage(const std::string& to, std::vector<std::uint8_t> body, std::uint8_t marker = 0xFE)
{
    body.insert(body.begin(), to.begin(), to.end());
    body.insert(body.begin(), marker);
    return body;
}

// A rendezvous server on 127.0.0.1 with every port chosen by the system, its SMS file in a
// temporary folder, and a loop for the test's WebSocket clients.
class RendezvousFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ServerConfig config;
        config.listenAddress = "127.0.0.1";
        config.listenPort = 0;
        config.relayPort = 0;
        config.stunPort = 0;
        config.identity = *tls::makeSelfSigned("rendezvous-test");
        configure(config);
        sms = std::make_unique<FileSmsGateway>(smsFile());
        server = std::make_unique<RendezvousServer>(config, *sms);
        std::string error;
        ASSERT_TRUE(server->start(error)) << error;
    }

    virtual void configure(ServerConfig&) {}

    std::filesystem::path smsFile() const { return state.path() / "sms.txt"; }

    // The code in the last line of the SMS file.
    std::string lastSmsCode() const
    {
        std::ifstream in(smsFile());
        std::string line;
        std::string last;
        while (std::getline(in, line)) {
            last = line;
        }
        const auto colon = last.rfind(": ");
        return colon == std::string::npos ? std::string() : last.substr(colon + 2);
    }

    std::unique_ptr<test::WssTestClient> connect() { return test::WssTestClient::connect(clients, server->wssPort()); }

    // A client that has said "hello" as deviceId and is bound.
    std::unique_ptr<test::WssTestClient> online(const std::string& deviceId)
    {
        auto client = connect();
        EXPECT_TRUE(client) << "connect";
        if (client) {
            EXPECT_TRUE(client->hello(deviceId)) << "hello " << deviceId;
        }
        return client;
    }

    test::TempDir state;
    core::EventLoopThread clients{"test.clients"};
    std::unique_ptr<FileSmsGateway> sms;
    std::unique_ptr<RendezvousServer> server;
};

} // namespace tavoro::server
