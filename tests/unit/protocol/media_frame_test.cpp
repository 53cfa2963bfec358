#include "protocol/media_frame.h"

#include <gtest/gtest.h>

namespace tavoro::protocol {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes prefix(const Bytes& bytes, std::size_t n)
{
    return {bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min(n, bytes.size()))};
}

TEST(MediaFrame, VideoBodyCarriesTypeAndLittleEndianSizeBeforeTheAccessUnit)
{
    const Bytes accessUnit(1000, 0xAB);
    const auto body = buildVideoFrameBody(1920, 1080, accessUnit);
    EXPECT_EQ(body.size(), 1009u);
    EXPECT_EQ(body.capacity(), 1009u);
    EXPECT_EQ(prefix(body, 9), (Bytes{0x02, 0x80, 0x07, 0x00, 0x00, 0x38, 0x04, 0x00, 0x00}));
    EXPECT_EQ(body.back(), 0xAB);
}

TEST(MediaFrame, RelayMessagePrefixesMarkerAndNineDigitId)
{
    const auto body = buildVideoFrameBody(1920, 1080, Bytes(1000, 0));
    const auto message = buildRelayMessage("123456789", body);
    ASSERT_TRUE(message);
    EXPECT_EQ(message->size(), 1019u);
    EXPECT_EQ(message->capacity(), 1019u);
    EXPECT_EQ(prefix(*message, 11), (Bytes{0xFE, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x02}));
    EXPECT_TRUE(std::equal(body.begin(), body.end(), message->begin() + 10));
}

TEST(MediaFrame, RelayRefusesIdsThatWouldMisalignTheBody)
{
    const Bytes body{0x02, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    for (const char* id : {"", "12345678", "1234567890", "13800138000", "12345678a", "１２３"}) {
        EXPECT_FALSE(buildRelayMessage(id, body)) << id;
    }
}

TEST(MediaFrame, ParsingABuiltRelayMessageGivesBackIdBodyAndFields)
{
    const Bytes accessUnit{0x00, 0x00, 0x00, 0x01, 0x65};
    const auto message = buildRelayMessage("123456789", buildVideoFrameBody(0xFFFFFFFF, 1080, accessUnit));
    ASSERT_TRUE(message);
    const auto relay = parseRelayMessage(*message);
    ASSERT_TRUE(relay);
    EXPECT_EQ(relay->peer, "123456789");
    const auto body = parseFrameBody(relay->body);
    ASSERT_TRUE(body);
    EXPECT_EQ(body->type, static_cast<std::uint8_t>(FrameType::h264));
    EXPECT_EQ(body->width, 0xFFFFFFFFu);
    EXPECT_EQ(body->height, 1080u);
    EXPECT_EQ(Bytes(body->payload.begin(), body->payload.end()), accessUnit);
}

TEST(MediaFrame, ParsersRejectWhatTheReceiverIgnores)
{
    const Bytes relayId{0xFE, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39};
    struct Case {
        const char* what;
        Bytes bytes;
        bool relay;
        bool body;
    };
    const Case cases[] = {
        {"empty", {}, false, false},
        {"relay header without body", relayId, false, true},
        {"relay with one body byte", [&] { auto b = relayId; b.push_back(0x02); return b; }(), true, true},
        {"other marker", {0xFD, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x02}, false, true},
        {"eight-byte body", {0x02, 0, 0, 0, 0, 0, 0, 0}, false, false},
        {"header-only body", {0x10, 0xE0, 0x01, 0, 0, 0, 0, 0, 0}, false, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseRelayMessage(c.bytes).has_value(), c.relay) << c.what;
        EXPECT_EQ(parseFrameBody(c.bytes).has_value(), c.body) << c.what;
    }
    const Bytes headerOnly{0x10, 0xE0, 0x01, 0, 0, 0, 0, 0, 0};
    EXPECT_TRUE(parseFrameBody(headerOnly)->payload.empty());
}

} // namespace
} // namespace tavoro::protocol
