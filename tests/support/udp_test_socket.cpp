#include "support/udp_test_socket.h"

#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>

namespace tavoro::test {

UdpTestSocket::UdpTestSocket(std::uint32_t loopbackAddress)
    : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)), address_(loopbackAddress)
{
    const sockaddr_in local = transport::toSockaddr({loopbackAddress, 0});
    if (!fd_.valid() || ::bind(fd_.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        throw std::runtime_error("cannot bind a UDP test socket");
    }
    const int bytes = 8 << 20;
    for (const int option : {SO_RCVBUF, SO_RCVBUFFORCE, SO_SNDBUF}) {
        ::setsockopt(fd_.get(), SOL_SOCKET, option, &bytes, sizeof bytes);
    }
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    ::getsockname(fd_.get(), reinterpret_cast<sockaddr*>(&bound), &length);
    port_ = ntohs(bound.sin_port);
}

void UdpTestSocket::sendTo(const transport::Endpoint& to, std::span<const std::uint8_t> bytes) const
{
    const sockaddr_in address = transport::toSockaddr(to);
    ::sendto(fd_.get(), bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

std::optional<UdpTestSocket::Datagram> UdpTestSocket::receive(std::chrono::milliseconds limit) const
{
    pollfd entry{fd_.get(), POLLIN, 0};
    if (::poll(&entry, 1, static_cast<int>(limit.count())) <= 0) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> buffer(65536);
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

std::uint16_t freeUdpPort()
{
    return UdpTestSocket().port();
}

} // namespace tavoro::test
