// Feeds arbitrary datagrams from four addresses to the UDP relay's session table (two sessions
// allocated, one standing), and every datagram also to the STUN request parser and the datagram
// header parser. A forwarded datagram must go to a bound address other than its sender's.
#include "platform/fake/manual_clock.h"
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
    server::RelayTable table(clock, limits);
    table.allocate("tok", "100000001");
    table.allocate("t2", "100000001");
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
                "10000000" + std::to_string(control & 3));
        }
        if (auto to = table.route(from, datagram); to && *to == from) {
            std::abort();
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
