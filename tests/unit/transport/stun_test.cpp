#include "transport/datagram.h"
#include "transport/stun.h"

#include <gtest/gtest.h>

#include <vector>

namespace tavoro::transport::stun {
namespace {

using Bytes = std::vector<std::uint8_t>;

const TransactionId kTxn{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};

// A success response for kTxn carrying the given attributes (type, value), padded to 4 bytes.
Bytes response(const std::vector<std::pair<std::uint16_t, Bytes>>& attributes, const TransactionId& txn = kTxn)
{
    Bytes out(20);
    putU16(out, 0, kBindingSuccess);
    putU32(out, 4, kMagicCookie);
    std::copy(txn.begin(), txn.end(), out.begin() + 8);
    for (const auto& [type, value] : attributes) {
        const std::size_t at = out.size();
        out.resize(at + 4 + ((value.size() + 3) & ~std::size_t{3}));
        putU16(out, at, type);
        putU16(out, at + 2, static_cast<std::uint16_t>(value.size()));
        std::copy(value.begin(), value.end(), out.begin() + static_cast<std::ptrdiff_t>(at + 4));
    }
    putU16(out, 2, static_cast<std::uint16_t>(out.size() - 20));
    return out;
}

// 203.0.113.7:40000, XOR-ed as on the wire.
const Bytes kXorValue{0x00, 0x01, 0x9C ^ 0x21, 0x40 ^ 0x12, 203 ^ 0x21, 0 ^ 0x12, 113 ^ 0xA4, 7 ^ 0x42};
const Bytes kPlainValue{0x00, 0x01, 0x9C, 0x40, 203, 0, 113, 7};

TEST(StunRequest, IsTwentyBytesWithTheCookieAndTransaction)
{
    const auto request = makeBindingRequest(kTxn);
    EXPECT_EQ(Bytes(request.begin(), request.end()),
        (Bytes{0, 1, 0, 0, 0x21, 0x12, 0xA4, 0x42, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
}

TEST(StunResponse, ReadsXorMappedAddressSkippingOtherPaddedAttributes)
{
    const auto mapped = parseBindingResponse(
        response({{0x8022, Bytes{'c', 'o', 't', 'u', 'r', 'n'}}, {0x0001, kPlainValue}, {0x0020, kXorValue}}), kTxn);
    ASSERT_TRUE(mapped);
    EXPECT_EQ(mapped->addressText(), "203.0.113.7");
    EXPECT_EQ(mapped->port, 40000);
    EXPECT_TRUE(parseBindingResponse(response({{0x8020, kXorValue}}), kTxn));
}

TEST(StunResponse, RejectsWhatCarriesNoUsableXorAddressForOurTransaction)
{
    TransactionId other = kTxn;
    other[11] = 99;
    Bytes ipv6 = kXorValue;
    ipv6[1] = 0x02;
    auto pastTheEnd = response({{0x8022, Bytes{1, 2, 3, 4}}, {0x0020, kXorValue}});
    putU16(pastTheEnd, 22, 200); // the first attribute claims more than the message holds
    auto truncated = response({{0x0020, kXorValue}});
    truncated.pop_back(); // the datagram ends inside the value
    auto headerCut = response({{0x8022, Bytes{1, 2, 3, 4}}, {0x0020, kXorValue}});
    putU16(headerCut, 2, 8 + 2); // two bytes of the second attribute header only
    auto beyondLength = response({{0x8022, Bytes{1, 2, 3, 4}}, {0x0020, kXorValue}});
    putU16(beyondLength, 2, 8); // the address lies beyond the declared message
    const std::pair<const char*, Bytes> cases[] = {
        {"another transaction", response({{0x0020, kXorValue}}, other)},
        {"only MAPPED-ADDRESS", response({{0x0001, kPlainValue}})},
        {"IPv6 family", response({{0x0020, ipv6}})},
        {"short value", response({{0x0020, Bytes(kXorValue.begin(), kXorValue.begin() + 7)}})},
        {"no attributes", response({})},
        {"attribute past the end", pastTheEnd},
        {"datagram ends in the value", truncated},
        {"length ends in an attribute header", headerCut},
        {"address beyond the declared length", beyondLength},
    };
    for (const auto& [name, bytes] : cases) {
        EXPECT_FALSE(parseBindingResponse(bytes, kTxn)) << name;
    }

    auto addressFirst = response({{0x0020, kXorValue}});
    addressFirst.resize(20 + 14);
    putU16(addressFirst, 2, 14); // the length ends inside the header after the address
    EXPECT_TRUE(parseBindingResponse(addressFirst, kTxn));
}

TEST(StunServerSide, AnswersARequestWithTheSourceAddress)
{
    const auto request = makeBindingRequest(kTxn);
    const auto txn = parseBindingRequest(request);
    ASSERT_TRUE(txn);
    const auto answer = makeBindingSuccess(*txn, MappedAddress{0xC0000201, 5555});
    const auto mapped = parseBindingResponse(answer, kTxn);
    ASSERT_TRUE(mapped);
    EXPECT_EQ(ipString(*mapped), "192.0.2.1:5555");
}

} // namespace
} // namespace tavoro::transport::stun
