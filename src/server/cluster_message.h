#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tavoro::server {

// A text message on its way from one node of the cluster to the node its destination is connected to:
// the destination's nine-digit device ID, one space, then the message exactly as the destination is to
// receive it ("from" already stamped by the sender's node). Pure logic.
struct ClusterMessage {
    std::string deviceId;
    std::string text;
};

std::string encodeClusterMessage(const std::string& deviceId, std::string_view text);
// Nothing when the payload does not have that shape (the text itself is not checked here).
std::optional<ClusterMessage> decodeClusterMessage(std::string_view payload);

} // namespace tavoro::server
