#pragma once

#include <functional>
#include <optional>
#include <string>

namespace tavoro::server {

// How a hub reaches the other rendezvous servers ("nodes") of its cluster and the state they share:
// which node holds which device ID (one live connection per ID across the cluster), which key owns an ID,
// the phone aliases of online devices, SMS codes, and the messages for devices connected to another
// node. Called on the signaling thread only; every callback runs there too, later (never from within
// the call that gave it), in the order of the calls, and never after the link is gone.
//
// "unchecked" answers say the shared state could not be reached: the hub then decides with what it
// knows itself.
class ClusterLink {
public:
    virtual ~ClusterLink() = default;

    enum class Claim { granted, takenElsewhere, ownedByAnotherKey, unchecked };
    // Claims deviceId for this node for a "hello" whose key has this digest ("" for none). The first
    // key to claim an ID owns it for good; a claim with another key or none is ownedByAnotherKey, a
    // claim of an ID another node holds is takenElsewhere.
    virtual void claim(const std::string& deviceId, const std::string& keyDigest, std::function<void(Claim)> done) = 0;
    // Frees deviceId and its alias at once when this node still holds it; every claim is released so,
    // granted or not.
    virtual void release(const std::string& deviceId) = 0;
    // Hands a payload (a ClusterMessage) to the hub of the node holding deviceId when that is another
    // node; it goes nowhere when no node or this one holds it. Payloads forwarded or sent arrive in the
    // order of the calls.
    virtual void forward(const std::string& deviceId, std::string payload) = 0;
    // Hands a payload (a ClusterMessage) to that node's hub.
    virtual void send(const std::string& node, std::string payload) = 0;

    enum class AliasBinding { bound, duplicate, unchecked };
    // Binds alias to deviceId, held here (replacing the alias it had) unless another device holds it;
    // the binding lives as long as this node holds the device.
    virtual void bindAlias(const std::string& deviceId, const std::string& alias, bool smsAuth,
        std::function<void(AliasBinding)> done) = 0;
    virtual void unbindAlias(const std::string& deviceId) = 0;

    struct Callee {
        std::string deviceId;
        std::string node; // empty: this node
        bool smsVerified = false;
    };
    enum class Found { online, offline, unchecked };
    // The online device a call's "to" names (a device ID, or an alias), and its node. When that device's
    // alias is in SMS mode, password is redeemed against its codes (a wrong one counts as a guess).
    virtual void findCallee(const std::string& to, const std::string& password,
        std::function<void(Found, const Callee&)> done) = 0;

    enum class SmsIssue { issued, unbound, tooSoon };
    // Records code as a fresh SMS code of alias, asked for by the device requester: unbound when no
    // online device holds alias (or the shared state cannot be reached), tooSoon within the requester's
    // interval.
    virtual void issueSmsCode(const std::string& requester, const std::string& alias, const std::string& code,
        std::function<void(SmsIssue)> done) = 0;
};

} // namespace tavoro::server
