#include "host/frame_writer.h"

#include <gtest/gtest.h>

namespace tavoro::host {
namespace {

std::vector<std::uint8_t> prefix(const std::vector<std::uint8_t>& bytes, std::size_t n)
{
    return {bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min(n, bytes.size()))};
}

TEST(FrameWriter, VideoBodyCarriesTypeAndLittleEndianSizeBeforeTheAccessUnit)
{
    const std::vector<std::uint8_t> accessUnit(1000, 0xAB);
    const auto body = buildVideoFrameBody(1920, 1080, accessUnit);
    EXPECT_EQ(body.size(), 1009u);
    EXPECT_EQ(body.capacity(), 1009u);
    EXPECT_EQ(prefix(body, 9), (std::vector<std::uint8_t>{0x02, 0x80, 0x07, 0x00, 0x00, 0x38, 0x04, 0x00, 0x00}));
    EXPECT_EQ(body.back(), 0xAB);
}

TEST(FrameWriter, RelayMessagePrefixesMarkerAndNineDigitId)
{
    const auto body = buildVideoFrameBody(1920, 1080, std::vector<std::uint8_t>(1000, 0));
    const auto message = buildRelayMessage("123456789", body);
    ASSERT_TRUE(message);
    EXPECT_EQ(message->size(), 1019u);
    EXPECT_EQ(message->capacity(), 1019u);
    EXPECT_EQ(prefix(*message, 11),
        (std::vector<std::uint8_t>{0xFE, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x02}));
    EXPECT_TRUE(std::equal(body.begin(), body.end(), message->begin() + 10));
}

TEST(FrameWriter, RelayRefusesIdsThatWouldMisalignTheBody)
{
    const std::vector<std::uint8_t> body{0x02, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    for (const char* id : {"", "12345678", "1234567890", "13800138000", "12345678a", "１２３"}) {
        EXPECT_FALSE(buildRelayMessage(id, body)) << id;
    }
}

} // namespace
} // namespace tavoro::host
