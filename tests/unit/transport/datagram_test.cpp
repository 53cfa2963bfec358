#include "transport/chunker.h"
#include "transport/datagram.h"

#include <gtest/gtest.h>

#include <vector>

namespace tavoro::transport {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes chunkDatagram(std::uint8_t kindByte, std::uint16_t payloadLength, std::size_t extra = 0)
{
    Bytes out(kHeaderSize + payloadLength + extra, 0xAB);
    writeHeader(out, Header{2, 7, 0, 1, payloadLength});
    out[5] = kindByte;
    return out;
}

TEST(DatagramHeader, IsBigEndianWithMagicVersionAndClearHighKindBit)
{
    Bytes out(16);
    writeHeader(out, Header{0x82, 0x01020304, 0x0506, 0x0708, 0x090A});
    EXPECT_EQ(out, (Bytes{'A', 'U', 'R', 'P', 1, 0x02, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
}

TEST(DatagramHeader, ParsesFieldsIgnoringTheKindHighBitAndBytesBeyondThePayload)
{
    auto bytes = chunkDatagram(0x82, 3, 5);
    std::copy_n("xyz", 3, bytes.begin() + 16);
    const auto datagram = parseDatagram(bytes);
    ASSERT_TRUE(datagram);
    EXPECT_EQ(datagram->header.kind, static_cast<std::uint8_t>(Kind::chunk));
    EXPECT_EQ(datagram->header.frameId, 7u);
    EXPECT_EQ(Bytes(datagram->payload.begin(), datagram->payload.end()), (Bytes{'x', 'y', 'z'}));
}

TEST(DatagramHeader, RejectsShortWrongVersionWrongMagicAndOverlongPayload)
{
    const auto good = chunkDatagram(2, 4);
    EXPECT_TRUE(parseDatagram(good));
    EXPECT_FALSE(parseDatagram(std::span(good).first(15)));
    auto version2 = good;
    version2[4] = 2;
    EXPECT_FALSE(parseDatagram(version2));
    auto badMagic = good;
    badMagic[3] = 'Q';
    EXPECT_FALSE(parseDatagram(badMagic));
    EXPECT_FALSE(parseDatagram(std::span(good).first(good.size() - 1)));
    EXPECT_EQ(classify(std::span(good).first(15)), DatagramClass::junk);
    EXPECT_EQ(classify(version2), DatagramClass::junk);
}

TEST(Demultiplexing, StunSuccessResponseIsNeverATransportDatagram)
{
    Bytes stun = {0x01, 0x01, 0x00, 0x00, 0x21, 0x12, 0xA4, 0x42, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    EXPECT_EQ(classify(stun), DatagramClass::stunResponse);
    EXPECT_EQ(classify(std::span(stun).first(19)), DatagramClass::junk);
    stun[1] = 0x00; // a Binding request is not something the transport answers
    EXPECT_EQ(classify(stun), DatagramClass::junk);
    EXPECT_EQ(classify(chunkDatagram(2, 0)), DatagramClass::transport);
}

TEST(PingPong, AreTwentyBytesWithTheIdTwice)
{
    const auto ping = makePingOrPong(Kind::ping, 0xDEADBEEF);
    EXPECT_EQ(Bytes(ping.begin(), ping.end()),
        (Bytes{'A', 'U', 'R', 'P', 1, 0, 0xDE, 0xAD, 0xBE, 0xEF, 0, 0, 0, 1, 0, 4, 0xDE, 0xAD, 0xBE, 0xEF}));
    EXPECT_EQ(makePingOrPong(Kind::pong, 5)[5], 1);
}

TEST(RelayBind, CarriesOneToEightyTokenBytesPaddedToTheSizeOfItsChallenge)
{
    std::array<std::uint8_t, kMaxRelayBindSize> out;
    out.fill(0xEE);
    ASSERT_EQ(writeRelayBind(out, Bytes(80, 't')), 112u);
    EXPECT_EQ(out[5], 8);
    EXPECT_EQ(u32(out, 6), 0u);
    EXPECT_EQ(u16(out, 12), 1);
    EXPECT_EQ(u16(out, 14), 80);
    EXPECT_EQ(out[95], 't');
    EXPECT_EQ(Bytes(out.begin() + 96, out.end()), Bytes(16, 0));
    const auto parsed = parseDatagram(out);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->payload.size(), 80u) << "the padding lies beyond the payload";
    EXPECT_EQ(writeRelayBind(out, Bytes(81, 't')), 0u);
    EXPECT_EQ(writeRelayBind(out, Bytes{}), 0u);
}

TEST(RelayChallenge, ChallengeAndProofCarryTheNonceThenTheToken)
{
    RelayNonce nonce;
    for (std::size_t i = 0; i < nonce.size(); ++i) {
        nonce[i] = static_cast<std::uint8_t>(0xA0 + i);
    }
    std::array<std::uint8_t, kMaxRelayChallengeSize> out{};
    ASSERT_EQ(writeRelayChallenge(out, Kind::relayChallenge, nonce, Bytes{'t', 'o', 'k'}), 35u);
    Bytes expected{'A', 'U', 'R', 'P', 1, 9, 0, 0, 0, 0, 0, 0, 0, 1, 0, 19};
    expected.resize(35);
    std::copy(nonce.begin(), nonce.end(), expected.begin() + 16);
    std::copy_n("tok", 3, expected.begin() + 32);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 35), expected);
    EXPECT_EQ(writeRelayBind(out, Bytes{'t', 'o', 'k'}), 35u) << "a bind is as large as its challenge";

    const auto parsed = parseRelayChallenge(*parseDatagram(std::span(expected)));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->nonce, nonce);
    EXPECT_EQ(Bytes(parsed->token.begin(), parsed->token.end()), (Bytes{'t', 'o', 'k'}));

    EXPECT_EQ(writeRelayChallenge(out, Kind::relayProof, nonce, Bytes(80, 't')), kMaxRelayChallengeSize);
    EXPECT_EQ(out[5], 10);
    EXPECT_TRUE(parseRelayChallenge(*parseDatagram(out)));
    EXPECT_EQ(writeRelayChallenge(out, Kind::relayProof, nonce, Bytes(81, 't')), 0u);
    EXPECT_EQ(writeRelayChallenge(out, Kind::relayProof, nonce, Bytes{}), 0u);
    Bytes nonceOnly(expected.begin(), expected.end() - 3);
    putU16(nonceOnly, 14, 16);
    EXPECT_FALSE(parseRelayChallenge(*parseDatagram(nonceOnly))) << "no token";
}

TEST(Chunker, CutsAt1100BytesUpTo65535Chunks)
{
    EXPECT_EQ(chunkCount(0), 1);
    EXPECT_EQ(chunkCount(1100), 1);
    EXPECT_EQ(chunkCount(1101), 2);
    EXPECT_EQ(chunkCount(72'088'500), 65535);
    EXPECT_FALSE(chunkCount(72'088'501));

    Bytes frame(1101);
    for (std::size_t i = 0; i < frame.size(); ++i) {
        frame[i] = static_cast<std::uint8_t>(i * 7);
    }
    std::array<std::uint8_t, kMaxDatagram> out{};
    ASSERT_EQ(writeChunk(out, 9, 0, 2, frame), kMaxDatagram);
    const auto first = parseDatagram(out);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->header.kind, 2);
    EXPECT_EQ(first->header.frameId, 9u);
    EXPECT_EQ(first->header.chunkCount, 2);
    EXPECT_TRUE(std::equal(first->payload.begin(), first->payload.end(), frame.begin()));
    ASSERT_EQ(writeChunk(out, 9, 1, 2, frame), 17u);
    EXPECT_EQ(u16(out, 10), 1);
    EXPECT_EQ(u16(out, 14), 1);
    EXPECT_EQ(out[16], frame[1100]);
    EXPECT_EQ(writeChunk(out, 10, 0, 1, Bytes{}), 16u);
}

} // namespace
} // namespace tavoro::transport
