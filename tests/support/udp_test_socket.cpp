#include "support/udp_test_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

namespace tavoro::test {

UdpTestSocket::UdpTestSocket(std::uint32_t loopbackAddress) : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0))
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(loopbackAddress);
    ::bind(fd_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd_.get(), reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
}

void UdpTestSocket::sendTo(std::uint16_t port, std::span<const std::uint8_t> bytes) const
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port);
    ::sendto(fd_.get(), bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

std::optional<UdpTestSocket::Received> UdpTestSocket::receive(std::chrono::milliseconds limit) const
{
    pollfd fd{fd_.get(), POLLIN, 0};
    if (::poll(&fd, 1, static_cast<int>(limit.count())) <= 0) {
        return std::nullopt;
    }
    Received received;
    received.bytes.resize(65536);
    sockaddr_in from{};
    socklen_t length = sizeof from;
    const ssize_t n = ::recvfrom(fd_.get(), received.bytes.data(), received.bytes.size(), 0,
        reinterpret_cast<sockaddr*>(&from), &length);
    if (n < 0) {
        return std::nullopt;
    }
    received.bytes.resize(static_cast<std::size_t>(n));
    received.fromAddress = ntohl(from.sin_addr.s_addr);
    received.fromPort = ntohs(from.sin_port);
    return received;
}

} // namespace tavoro::test
