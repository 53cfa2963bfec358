#pragma once

#include <functional>
#include <optional>
#include <string>

namespace tavoro::server {

// How a hub reaches the other rendezvous servers ("nodes") of its cluster: which node holds which device
// ID (one live connection per ID across the cluster), and the messages for devices connected to another
// node. Called on the signaling thread only; every callback runs there too, later (never from within
// the call that gave it), in the order of the calls, and never after the link is gone.
class ClusterLink {
public:
    virtual ~ClusterLink() = default;

    // Claims deviceId for this node; granted is false when another node holds it.
    virtual void claim(const std::string& deviceId, std::function<void(bool granted)> done) = 0;
    // Frees deviceId at once when this node still holds it; every claim is released so, granted or not.
    virtual void release(const std::string& deviceId) = 0;
    // The node holding deviceId when that is another node; nothing when no node or this one holds it.
    virtual void locate(const std::string& deviceId, std::function<void(std::optional<std::string> node)> done) = 0;
    // Hands a payload (a ClusterMessage) to that node's hub; payloads to one node arrive in the order sent.
    virtual void send(const std::string& node, std::string payload) = 0;
};

} // namespace tavoro::server
