#include "transport/udp_socket.h"

#include <algorithm>
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <memory>

namespace tavoro::transport::net {
namespace {

void setReceiveBuffer(int fd, int bytes)
{
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    int granted = 0;
    socklen_t length = sizeof granted;
    // The kernel reports twice the size it was asked for; less means the system maximum cut it.
    if (::getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &granted, &length) == 0 && granted < 2 * bytes) {
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes);
    }
}

struct AddrInfoFree {
    void operator()(addrinfo* info) const { ::freeaddrinfo(info); }
};

struct IfAddrsFree {
    void operator()(ifaddrs* list) const { ::freeifaddrs(list); }
};

} // namespace

core::UniqueFd openUdpSocket(int receiveBufferBytes)
{
    core::UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd.valid()) {
        return fd;
    }
    setReceiveBuffer(fd.get(), receiveBufferBytes);
    const sockaddr_in any = toSockaddr(Endpoint{INADDR_ANY, 0});
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) {
        fd.reset();
    }
    return fd;
}

std::uint16_t boundPort(int fd)
{
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        return 0;
    }
    return ntohs(local.sin_port);
}

void sendTo(int fd, std::span<const std::uint8_t> bytes, const Endpoint& to)
{
    const sockaddr_in address = toSockaddr(to);
    [[maybe_unused]] auto ignored = ::sendto(fd, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
        reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

std::optional<Received> receiveFrom(int fd, std::span<std::uint8_t> buffer)
{
    sockaddr_in source{};
    socklen_t sourceLength = sizeof source;
    const auto length = ::recvfrom(fd, buffer.data(), buffer.size(), MSG_DONTWAIT,
        reinterpret_cast<sockaddr*>(&source), &sourceLength);
    if (length < 0 || source.sin_family != AF_INET) {
        return std::nullopt;
    }
    return Received{static_cast<std::size_t>(length), fromSockaddr(source)};
}

bool waitReadable(int fd, std::chrono::milliseconds timeout)
{
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, static_cast<int>(timeout.count())) > 0 && (entry.revents & POLLIN) != 0;
}

std::vector<std::string> localIPv4()
{
    ifaddrs* raw = nullptr;
    if (::getifaddrs(&raw) != 0) {
        return {};
    }
    const std::unique_ptr<ifaddrs, IfAddrsFree> list(raw);
    std::vector<std::string> out;
    for (const ifaddrs* entry = raw; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET || !(entry->ifa_flags & IFF_UP)
            || (entry->ifa_flags & IFF_LOOPBACK)) {
            continue;
        }
        const auto text = fromSockaddr(*reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)).addressText();
        if (text.starts_with("127.") || text.starts_with("169.254.")
            || std::find(out.begin(), out.end(), text) != out.end()) {
            continue;
        }
        out.push_back(text);
    }
    return out;
}

std::optional<Endpoint> resolveIPv4(std::string_view host, std::uint16_t port)
{
    if (const auto literal = parseDottedQuad(host)) {
        return Endpoint{*literal, port};
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* raw = nullptr;
    const std::string name(host);
    if (name.empty() || ::getaddrinfo(name.c_str(), nullptr, &hints, &raw) != 0) {
        return std::nullopt;
    }
    const std::unique_ptr<addrinfo, AddrInfoFree> results(raw);
    for (const addrinfo* entry = raw; entry; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET) {
            auto endpoint = fromSockaddr(*reinterpret_cast<const sockaddr_in*>(entry->ai_addr));
            endpoint.port = port;
            return endpoint;
        }
    }
    return std::nullopt;
}

} // namespace tavoro::transport::net
