// Device IDs owned by the installation that first claimed them with a key: held across a restart of
// tavoro-rendezvous, and refused to anyone else while the owner is away.
#include "server/sqlite_device_key_store.h"
#include "support/rendezvous_process.h"
#include "support/wss_test_client.h"

#include <gtest/gtest.h>

#include <csignal>

namespace tavoro::test {
namespace {

const std::string kDeviceId = "123456789";
const std::string kOwnerKey = "owner-key_0123456789abcdefghijklmnopqrstuvw";
const std::string kAttackerKey = "attacker-key_0123456789abcdefghijklmnopqrst";

TEST(DeviceKeys, AfterARestartNobodyButTheOwnersKeyClaimsItsIdFirst)
{
    TempDir state;
    core::EventLoopThread clients("test.clients");
    const auto connect = [&](int port) { return WssTestClient::connect(clients, static_cast<std::uint16_t>(port)); };
    {
        auto before = startRendezvous(TAVORO_RENDEZVOUS_PATH, rendezvousArgs(state));
        auto owner = connect(before.wss);
        ASSERT_TRUE(owner && owner->hello(kDeviceId, "qxm", kOwnerKey));
        ASSERT_EQ(before.process->stop(SIGTERM), 0);
    }

    auto server = startRendezvous(TAVORO_RENDEZVOUS_PATH, rendezvousArgs(state));
    for (const nlohmann::json& key : {nlohmann::json(kAttackerKey), nlohmann::json()}) {
        auto attacker = connect(server.wss);
        ASSERT_TRUE(attacker);
        nlohmann::json hello = {{"type", "hello"}, {"device_id", kDeviceId}, {"token", "qxm"}};
        if (!key.is_null()) {
            hello["device_key"] = key;
        }
        attacker->sendJson(hello);
        const auto refusal = attacker->nextOfType("error");
        ASSERT_TRUE(refusal) << key;
        EXPECT_EQ((*refusal)["err"]["message"], "设备 ID 已被另一台设备占用");
        EXPECT_TRUE(attacker->waitClosed()) << key;
    }

    auto owner = connect(server.wss);
    EXPECT_TRUE(owner && owner->hello(kDeviceId, "qxm", kOwnerKey)) << "the owner still gets in";
    auto caller = connect(server.wss);
    ASSERT_TRUE(caller && caller->hello("987654321"));
    caller->sendJson({{"type", "call"}, {"to", kDeviceId}, {"call_id", "1"}, {"password", "secret"}});
    EXPECT_TRUE(owner->nextOfType("call")) << "and its calls";
}

TEST(DeviceKeys, TheSqliteStoreKeepsTheFirstDigestAcrossReopeningAndFailsLoudly)
{
    TempDir state;
    const auto file = state.path() / "device_keys.sqlite3";
    {
        auto opened = server::SqliteDeviceKeyStore::open(file);
        ASSERT_TRUE(opened) << opened.error();
        auto& store = *opened;
        EXPECT_EQ(store->find(kDeviceId), std::nullopt);
        EXPECT_TRUE(store->add(kDeviceId, "first"));
        EXPECT_TRUE(store->add(kDeviceId, "second"));
        EXPECT_EQ(store->find(kDeviceId), "first");
    }
    auto opened = server::SqliteDeviceKeyStore::open(file);
    ASSERT_TRUE(opened) << opened.error();
    auto& reopened = *opened;
    EXPECT_EQ(reopened->find(kDeviceId), "first");
    EXPECT_EQ(reopened->find("987654321"), std::nullopt);

    const auto missing = server::SqliteDeviceKeyStore::open(state.path() / "missing" / "keys.sqlite3");
    ASSERT_FALSE(missing);
    EXPECT_NE(missing.error().find("missing"), std::string::npos) << missing.error();
}

} // namespace
} // namespace tavoro::test
