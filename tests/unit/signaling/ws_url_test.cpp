#include "signaling/ws_url.h"

#include <gtest/gtest.h>

namespace tavoro::signaling {
namespace {

TEST(WsUrl, ParsesHostsPortsAndTargets)
{
    auto plain = parseWsUrl("wss://rendezvous.example:8443/ws");
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->host, "rendezvous.example");
    EXPECT_EQ(plain->port, 8443);
    EXPECT_EQ(plain->target, "/ws");
    EXPECT_EQ(plain->hostHeader(), "rendezvous.example:8443");

    auto v6 = parseWsUrl("wss://[::1]:9000/ws");
    ASSERT_TRUE(v6);
    EXPECT_EQ(v6->host, "::1");
    EXPECT_EQ(v6->hostHeader(), "[::1]:9000");

    auto defaults = parseWsUrl("wss://host");
    ASSERT_TRUE(defaults);
    EXPECT_EQ(defaults->port, 443);
    EXPECT_EQ(defaults->target, "/");
}

TEST(WsUrl, RejectsMalformedEndpoints)
{
    for (const auto* url : {"", "ws://host/ws", "wss://", "wss://:8443/ws", "wss://host:/ws", "wss://host:0/ws",
             "wss://host:65536/ws", "wss://host:12ab/ws", "wss://ho st/ws", "wss://[::1/ws", "wss://[::1]x/ws",
             "wss://a:b:c/ws", "wss://[]:1/ws"}) {
        EXPECT_FALSE(parseWsUrl(url)) << url;
    }
}

} // namespace
} // namespace tavoro::signaling
