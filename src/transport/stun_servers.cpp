#include "transport/stun_servers.h"

#include <charconv>

namespace tavoro::transport {
namespace {

std::string_view trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

} // namespace

std::vector<StunServer> defaultStunServers(std::string_view rendezvousHost)
{
    return {
        {std::string(rendezvousHost), kRendezvousStunPort},
        {"stun.cloudflare.com", 3478},
        {"stun.sipgate.net", 3478},
        {"stun.stunprotocol.org", 3478},
        {"stun.l.google.com", 19302},
    };
}

std::optional<StunServer> parseStunServer(std::string_view text)
{
    const auto colon = text.rfind(':');
    if (colon == std::string_view::npos || colon == 0) {
        return std::nullopt;
    }
    const std::string_view host = text.substr(0, colon);
    const std::string_view digits = text.substr(colon + 1);
    unsigned port = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
    if (error != std::errc{} || end != digits.data() + digits.size() || digits.empty() || port < 1 || port > 65535
        || host.find_first_of(" \t,:") != std::string_view::npos) {
        return std::nullopt;
    }
    return StunServer{std::string(host), static_cast<std::uint16_t>(port)};
}

std::optional<std::vector<StunServer>> parseStunServerList(std::string_view text)
{
    std::vector<StunServer> out;
    while (true) {
        const auto comma = text.find(',');
        const auto server = parseStunServer(trimmed(text.substr(0, comma)));
        if (!server) {
            return std::nullopt;
        }
        out.push_back(*server);
        if (comma == std::string_view::npos) {
            return out;
        }
        text.remove_prefix(comma + 1);
    }
}

StunTable chooseStunServers(const std::vector<std::string>& options, const char* environmentValue,
    std::string_view rendezvousHost)
{
    StunTable table;
    if (!options.empty()) {
        for (const auto& option : options) {
            auto server = parseStunServer(trimmed(option));
            if (!server) {
                return StunTable{{}, option};
            }
            table.servers.push_back(*server);
        }
        return table;
    }
    if (environmentValue && *environmentValue) {
        auto servers = parseStunServerList(environmentValue);
        if (!servers) {
            return StunTable{{}, environmentValue};
        }
        table.servers = std::move(*servers);
        return table;
    }
    table.servers = defaultStunServers(rendezvousHost);
    return table;
}

} // namespace tavoro::transport
