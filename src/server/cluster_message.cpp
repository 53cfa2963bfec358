#include "server/cluster_message.h"

#include "server/identifiers.h"

namespace tavoro::server {
namespace {

constexpr std::size_t kIdLength = 9;

char separatorOf(ClusterMessage::Kind kind) { return kind == ClusterMessage::Kind::text ? ' ' : ':'; }

} // namespace

std::string encodeClusterMessage(ClusterMessage::Kind kind, const std::string& deviceId, std::string_view body)
{
    std::string payload;
    payload.reserve(deviceId.size() + 1 + body.size());
    payload.append(deviceId).append(1, separatorOf(kind)).append(body);
    return payload;
}

std::optional<ClusterMessage> decodeClusterMessage(std::string_view payload)
{
    if (payload.size() <= kIdLength + 1 || !isDeviceId(payload.substr(0, kIdLength))) {
        return std::nullopt;
    }
    for (const auto kind : {ClusterMessage::Kind::text, ClusterMessage::Kind::binary}) {
        if (payload[kIdLength] == separatorOf(kind)) {
            return ClusterMessage{kind, std::string(payload.substr(0, kIdLength)), std::string(payload.substr(kIdLength + 1))};
        }
    }
    return std::nullopt;
}

} // namespace tavoro::server
