#include "integration/transport/udp_probe.h"

#include "transport/stun.h"

#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>

namespace tavoro::test {

UdpProbe::UdpProbe() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0))
{
    const sockaddr_in local = transport::toSockaddr({0x7F000001, 0});
    if (!fd_.valid() || ::bind(fd_.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        throw std::runtime_error("cannot bind a UDP probe");
    }
    // Room for a whole burst of chunks, as a relay or a busy peer has.
    const int bytes = 4 << 20;
    ::setsockopt(fd_.get(), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    ::setsockopt(fd_.get(), SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes);
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    ::getsockname(fd_.get(), reinterpret_cast<sockaddr*>(&bound), &length);
    port_ = ntohs(bound.sin_port);
}

void UdpProbe::send(std::span<const std::uint8_t> bytes, const transport::Endpoint& to) const
{
    const sockaddr_in address = transport::toSockaddr(to);
    ::sendto(fd_.get(), bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

std::optional<UdpProbe::Datagram> UdpProbe::receive(std::chrono::milliseconds timeout) const
{
    pollfd entry{fd_.get(), POLLIN, 0};
    if (::poll(&entry, 1, static_cast<int>(timeout.count())) <= 0) {
        return std::nullopt;
    }
    Bytes buffer(65536);
    sockaddr_in source{};
    socklen_t length = sizeof source;
    const auto size = ::recvfrom(fd_.get(), buffer.data(), buffer.size(), MSG_DONTWAIT,
        reinterpret_cast<sockaddr*>(&source), &length);
    if (size < 0) {
        return std::nullopt;
    }
    buffer.resize(static_cast<std::size_t>(size));
    return Datagram{std::move(buffer), transport::fromSockaddr(source), std::chrono::steady_clock::now()};
}

LoopbackStunResponder::LoopbackStunResponder()
    : thread_([this] {
          while (!stop_) {
              const auto request = probe_.receive(std::chrono::milliseconds(20));
              if (!request) {
                  continue;
              }
              if (const auto txn = transport::stun::parseBindingRequest(request->bytes)) {
                  probe_.send(transport::stun::makeBindingSuccess(*txn, request->from), request->from);
              }
          }
      })
{
}

LoopbackStunResponder::~LoopbackStunResponder()
{
    stop_ = true;
    thread_.join();
}

std::uint16_t freeUdpPort()
{
    return UdpProbe().port();
}

} // namespace tavoro::test
