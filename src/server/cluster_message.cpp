#include "server/cluster_message.h"

#include "server/identifiers.h"

namespace tavoro::server {
namespace {

constexpr std::size_t kIdLength = 9;

} // namespace

std::string encodeClusterMessage(const std::string& deviceId, std::string_view text)
{
    std::string payload;
    payload.reserve(deviceId.size() + 1 + text.size());
    payload.append(deviceId).append(1, ' ').append(text);
    return payload;
}

std::optional<ClusterMessage> decodeClusterMessage(std::string_view payload)
{
    if (payload.size() <= kIdLength + 1 || payload[kIdLength] != ' ' || !isDeviceId(payload.substr(0, kIdLength))) {
        return std::nullopt;
    }
    return ClusterMessage{std::string(payload.substr(0, kIdLength)), std::string(payload.substr(kIdLength + 1))};
}

} // namespace tavoro::server
