#include "transport/endpoint.h"

#include <arpa/inet.h>
#include <netinet/in.h>

namespace tavoro::transport {

std::string Endpoint::addressText() const
{
    const in_addr raw{htonl(address)};
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &raw, text, sizeof text);
    return text;
}

std::string ipString(const Endpoint& endpoint)
{
    return endpoint.addressText() + ":" + std::to_string(endpoint.port);
}

std::optional<std::uint32_t> parseDottedQuad(std::string_view text)
{
    if (text.empty() || text.size() >= INET_ADDRSTRLEN) {
        return std::nullopt;
    }
    const std::string terminated(text);
    in_addr raw{};
    if (::inet_pton(AF_INET, terminated.c_str(), &raw) != 1) {
        return std::nullopt;
    }
    return ntohl(raw.s_addr);
}

sockaddr_in toSockaddr(const Endpoint& endpoint)
{
    sockaddr_in out{};
    out.sin_family = AF_INET;
    out.sin_port = htons(endpoint.port);
    out.sin_addr.s_addr = htonl(endpoint.address);
    return out;
}

Endpoint fromSockaddr(const sockaddr_in& address)
{
    return Endpoint{ntohl(address.sin_addr.s_addr), ntohs(address.sin_port)};
}

} // namespace tavoro::transport
