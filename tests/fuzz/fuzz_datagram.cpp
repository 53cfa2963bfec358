// Feeds a stream of datagrams to the receive side of the peer transport: demultiplexing, the STUN
// response parser, and chunk reassembly with its done filter and expiry. The input is a sequence of
// records: one byte of clock advance (ms), two bytes of length, then that many datagram bytes.
#include "platform/fake/manual_clock.h"
#include "transport/datagram.h"
#include "transport/reassembler.h"
#include "transport/stun.h"

#include <cstddef>
#include <cstdint>
#include <span>

using namespace tavoro;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    platform::fake::ManualClock clock;
    transport::Reassembler reassembler(clock);
    const transport::stun::TransactionId fixedTxn{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    std::span<const std::uint8_t> input(data, size);
    while (input.size() >= 3) {
        clock.advance(std::chrono::milliseconds(input[0]));
        const std::size_t length = std::min<std::size_t>((std::size_t{input[1]} << 8) | input[2], input.size() - 3);
        const auto datagram = input.subspan(3, length);
        input = input.subspan(3 + length);

        switch (transport::classify(datagram)) {
        case transport::DatagramClass::stunResponse: {
            transport::stun::TransactionId echoed{};
            std::copy_n(datagram.begin() + 8, echoed.size(), echoed.begin());
            (void)transport::stun::parseBindingResponse(datagram, echoed);
            (void)transport::stun::parseBindingResponse(datagram, fixedTxn);
            break;
        }
        case transport::DatagramClass::transport: {
            const auto parsed = transport::parseDatagram(datagram);
            if (parsed->header.kind == static_cast<std::uint8_t>(transport::Kind::chunk)) {
                if (auto frame = reassembler.reassemble(parsed->header.frameId, parsed->header.chunkIndex,
                        parsed->header.chunkCount, parsed->payload)) {
                    // Every byte of a delivered frame came from some chunk's payload.
                    if (frame->size() > std::size_t{parsed->header.chunkCount} * 65535) {
                        __builtin_trap();
                    }
                }
            }
            break;
        }
        case transport::DatagramClass::junk:
            break;
        }
        (void)transport::stun::parseBindingRequest(datagram);
        reassembler.sweep(clock.uptimeMs());
    }
    return 0;
}
