#include "transport/candidates.h"

#include <algorithm>

namespace tavoro::transport {
namespace {

json::Json record(const std::string& address, std::uint16_t port, const char* type)
{
    return json::Json{{"ip", address}, {"port", port}, {"type", type}};
}

std::optional<Endpoint> parseCandidate(const json::Json& entry)
{
    const auto address = parseDottedQuad(json::stringField(entry, "ip"));
    const auto port = json::intField(entry, "port");
    if (!address || !port || *port < 1 || *port > 65535) {
        return std::nullopt;
    }
    return Endpoint{*address, static_cast<std::uint16_t>(*port)};
}

} // namespace

json::Json makeAdvertisement(const std::vector<std::string>& localAddresses, std::uint16_t localPort,
    const std::optional<Reflexive>& reflexive)
{
    auto list = json::Json::array();
    for (const auto& address : localAddresses) {
        list.push_back(record(address, localPort, "host"));
    }
    if (reflexive) {
        list.push_back(record(reflexive->address, reflexive->port, "srflx"));
    }
    return json::Json{{"candidates", std::move(list)}};
}

std::vector<Endpoint> parseCandidates(std::string_view kind, const json::Json& payload)
{
    std::vector<Endpoint> out;
    if (kind != kIceKind || !payload.is_object() || payload.empty()) {
        return out;
    }
    const json::Json* list = json::find(payload, "candidates");
    if (!list || !list->is_array()) {
        return out;
    }
    const bool allRecords = std::all_of(list->begin(), list->end(), [](const json::Json& e) { return e.is_object(); });
    if (!allRecords) {
        return out;
    }
    for (const auto& entry : *list) {
        if (auto endpoint = parseCandidate(entry)) {
            out.push_back(*endpoint);
        }
    }
    return out;
}

} // namespace tavoro::transport
