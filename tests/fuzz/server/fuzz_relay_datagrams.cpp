// Feeds arbitrary datagrams from four addresses to the UDP relay's session table (two sessions
// allocated, one standing), and every datagram also to the STUN request parser and the datagram
// header parser. A forwarded datagram must go to a bound address other than its sender's; a challenge
// only to the bind's sender, never larger than the bind. Challenges are answered, so binds succeed.
#include "platform/fake/manual_clock.h"
#include "platform/fake/sequence_random.h"
#include "server/relay_table.h"
#include "transport/datagram.h"
#include "transport/stun.h"

#include <cstdlib>

namespace {

using namespace tavoro;

const server::Ipv4Endpoint kSources[] = {{0x0A000001, 1000}, {0x0A000002, 2000}, {0x0A000003, 3000}, {0x0A000004, 4000}};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    platform::fake::ManualClock clock;
    server::RelayTable::Limits limits;
    limits.bytesPerSecond = 64 * 1024;
    limits.maxSessionsPerOwner = 2;
    platform::fake::SequenceRandom random({0x6B, 0x02, 0xF9});
    server::RelayTable table(clock, random, limits);
    table.allocate("tok", "100000001", "192.0.2.1");
    table.allocate("t2", "100000001", "192.0.2.1");
    table.allocateStanding("fixed");

    std::size_t at = 0;
    while (at + 2 <= size) {
        const std::uint8_t control = data[at];
        const std::size_t length = std::min<std::size_t>(data[at + 1] * 5u, size - at - 2);
        at += 2;
        const std::span<const std::uint8_t> datagram(data + at, length);
        at += length;
        const auto& from = kSources[control & 3];
        if (control & 0x80) {
            clock.advance(std::chrono::seconds(control & 0x3F));
            table.expire();
        }
        if (control & 0x40) {
            table.allocate(std::string(reinterpret_cast<const char*>(datagram.data()), std::min<std::size_t>(length, 90)),
                "10000000" + std::to_string(control & 3), "192.0.2.1");
        }
        // A forward never goes back to its sender; a challenge goes only there, never larger than its bind.
        auto to = table.route(from, datagram);
        if (to && (to->reply.empty() ? to->to == from : to->to != from || to->reply.size() > datagram.size())) {
            std::abort();
        }
        if (to && !to->reply.empty()) { // answered, so that binds succeed
            to->reply[5] = static_cast<std::uint8_t>(transport::Kind::relayProof);
            table.route(from, to->reply);
        }
        if (auto txn = transport::stun::parseBindingRequest(datagram)) {
            const auto answer = transport::stun::makeBindingSuccess(*txn, {from.address, from.port});
            if (transport::stun::parseBindingResponse(answer, *txn) != transport::stun::MappedAddress{from.address, from.port}) {
                std::abort();
            }
        }
        transport::parseDatagram(datagram);
    }
    return 0;
}
