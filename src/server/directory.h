#pragma once

#include "server/connection.h"

#include <optional>
#include <string>
#include <unordered_map>

namespace tavoro::server {

// Who is online: device IDs held by connections (one live connection per ID), and the phone alias
// each online device has bound. Pure logic; the hub calls it on the signaling thread.
class Directory {
public:
    enum class Claim { bound, alreadyHeld, takenElsewhere, connectionHasAnotherId };
    Claim claim(ConnectionId connection, const std::string& deviceId);
    // Frees the connection's device ID and that device's alias. Returns the ID it held, or "".
    std::string release(ConnectionId connection);

    std::optional<ConnectionId> connectionOf(const std::string& deviceId) const;
    std::string deviceOf(ConnectionId connection) const;

    struct Alias {
        std::string alias;
        bool smsAuth = false;
    };
    enum class AliasResult { bound, duplicate };
    // Binds alias to an online device (replacing any alias it had); duplicate when another device
    // holds it.
    AliasResult bindAlias(const std::string& deviceId, const std::string& alias, bool smsAuth);
    void unbindAlias(const std::string& deviceId);
    std::optional<Alias> aliasOf(const std::string& deviceId) const;
    std::optional<std::string> deviceForAlias(const std::string& alias) const;

    // An online device named by a "to" field: a device ID, or a bound alias.
    std::optional<std::string> resolve(const std::string& target) const;

    std::size_t onlineCount() const { return connections_.size(); }

private:
    std::unordered_map<std::string, ConnectionId> connections_;  // device ID -> connection
    std::unordered_map<ConnectionId, std::string> devices_;      // connection -> device ID
    std::unordered_map<std::string, Alias> aliases_;             // device ID -> its alias
    std::unordered_map<std::string, std::string> aliasOwners_;   // alias -> device ID
};

} // namespace tavoro::server
