#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tavoro::server {

// A message on its way from one node of the cluster to the node its destination is connected to: the
// destination's nine-digit device ID, one separator byte, then the message exactly as the destination is
// to receive it (the sender already stamped in it by the sender's node). The separator tells the kind:
// ' ' a text message, ':' a binary one. Pure logic.
struct ClusterMessage {
    enum class Kind { text, binary };
    Kind kind = Kind::text;
    std::string deviceId;
    std::string body;
};

std::string encodeClusterMessage(ClusterMessage::Kind kind, const std::string& deviceId, std::string_view body);
// Nothing when the payload does not have that shape (the body itself is not checked here).
std::optional<ClusterMessage> decodeClusterMessage(std::string_view payload);

} // namespace tavoro::server
