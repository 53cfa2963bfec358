#include "transport/candidates.h"
#include "transport/stun_servers.h"

#include <gtest/gtest.h>

namespace tavoro::transport {
namespace {

using json::Json;

std::vector<std::string> texts(const std::vector<Endpoint>& endpoints)
{
    std::vector<std::string> out;
    for (const auto& endpoint : endpoints) {
        out.push_back(ipString(endpoint));
    }
    return out;
}

TEST(Advertisement, ListsHostAddressesThenTheReflexiveOneAndParsesBack)
{
    const auto payload = makeAdvertisement({"10.0.0.2", "192.168.1.5"}, 4000, Reflexive{"203.0.113.9", 61000});
    EXPECT_EQ(payload, Json::parse(R"({"candidates": [
        {"ip": "10.0.0.2", "port": 4000, "type": "host"},
        {"ip": "192.168.1.5", "port": 4000, "type": "host"},
        {"ip": "203.0.113.9", "port": 61000, "type": "srflx"}]})"));
    EXPECT_EQ(makeAdvertisement({}, 4000, std::nullopt), Json::parse(R"({"candidates": []})"));
    EXPECT_EQ(texts(parseCandidates("ice", payload)),
        (std::vector<std::string>{"10.0.0.2:4000", "192.168.1.5:4000", "203.0.113.9:61000"}));
}

TEST(CandidateParsing, SkipsMalformedRecords)
{
    const auto payload = Json::parse(R"({"candidates": [
        {"ip": "10.0.0.1", "port": 5000.0},
        {"ip": "10.0.0.2", "port": 5001.9},
        {"ip": "10.0.0.3", "port": 0},
        {"ip": "10.0.0.4", "port": 70000},
        {"port": 5004},
        {"ip": "peer.example", "port": 5005},
        {"ip": "10.0.0.6", "port": "5006"},
        {"ip": 7, "port": 5007},
        {"ip": "10.0.0.8", "port": 1e300},
        {"ip": "10.0.0.9", "port": 65535, "type": "whatever"}]})");
    EXPECT_EQ(texts(parseCandidates("ice", payload)),
        (std::vector<std::string>{"10.0.0.1:5000", "10.0.0.2:5001", "10.0.0.9:65535"}));
}

TEST(CandidateParsing, IgnoresOtherKindsAndPayloadsWithoutARecordArray)
{
    const auto good = Json::parse(R"({"candidates": [{"ip": "10.0.0.1", "port": 5000}]})");
    EXPECT_TRUE(parseCandidates("quality", good).empty());
    EXPECT_TRUE(parseCandidates("ice", Json()).empty());
    EXPECT_TRUE(parseCandidates("ice", Json::object()).empty());
    EXPECT_TRUE(parseCandidates("ice", Json::parse(R"({"candidates": {"ip": "10.0.0.1"}})")).empty());
    EXPECT_TRUE(parseCandidates("ice", Json::parse(R"({"candidates": [{"ip": "10.0.0.1", "port": 5000}, 3]})")).empty());
}

TEST(StunTable, DefaultsToTheRendezvousResponderFirst)
{
    EXPECT_EQ(defaultStunServers()[0], (StunServer{"127.0.0.1", 3478}));
    EXPECT_EQ(defaultStunServers("rv.example")[0], (StunServer{"rv.example", 3478}));
    EXPECT_EQ(defaultStunServers().size(), 5u);
}

TEST(StunTable, ParsesHostPortEntries)
{
    EXPECT_EQ(parseStunServer("stun.example:3478"), (StunServer{"stun.example", 3478}));
    EXPECT_EQ(parseStunServer("10.1.2.3:19302"), (StunServer{"10.1.2.3", 19302}));
    for (const char* bad : {"", "host", ":3478", "host:", "host:0", "host:65536", "host:12x", "a b:1", "::1:3478"}) {
        EXPECT_FALSE(parseStunServer(bad)) << bad;
    }
    EXPECT_EQ(parseStunServerList(" a:1, b:2 ,c:3"),
        (std::vector<StunServer>{{"a", 1}, {"b", 2}, {"c", 3}}));
    EXPECT_FALSE(parseStunServerList("a:1,,b:2"));
    EXPECT_FALSE(parseStunServerList(""));
}

TEST(StunTable, OptionsWinOverTheEnvironmentWhichWinsOverTheDefault)
{
    EXPECT_EQ(chooseStunServers({"a:1", "b:2"}, "c:3").servers, (std::vector<StunServer>{{"a", 1}, {"b", 2}}));
    EXPECT_EQ(chooseStunServers({}, "c:3,d:4").servers, (std::vector<StunServer>{{"c", 3}, {"d", 4}}));
    EXPECT_EQ(chooseStunServers({}, "", "rv.example").servers, defaultStunServers("rv.example"));
    EXPECT_EQ(chooseStunServers({}, nullptr).servers, defaultStunServers());
    const auto bad = chooseStunServers({"a:1", "nope"}, nullptr);
    EXPECT_TRUE(bad.servers.empty());
    EXPECT_EQ(bad.invalidEntry, "nope");
    EXPECT_EQ(chooseStunServers({}, "c:3,x").invalidEntry, "c:3,x");
}

} // namespace
} // namespace tavoro::transport
