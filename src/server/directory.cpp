#include "server/directory.h"

namespace tavoro::server {

Directory::Claim Directory::claim(ConnectionId connection, const std::string& deviceId)
{
    if (auto held = devices_.find(connection); held != devices_.end()) {
        return held->second == deviceId ? Claim::alreadyHeld : Claim::connectionHasAnotherId;
    }
    if (connections_.contains(deviceId)) {
        return Claim::takenElsewhere;
    }
    connections_.emplace(deviceId, connection);
    devices_.emplace(connection, deviceId);
    return Claim::bound;
}

std::string Directory::release(ConnectionId connection)
{
    auto held = devices_.find(connection);
    if (held == devices_.end()) {
        return {};
    }
    std::string deviceId = std::move(held->second);
    devices_.erase(held);
    connections_.erase(deviceId);
    unbindAlias(deviceId);
    return deviceId;
}

std::optional<ConnectionId> Directory::connectionOf(const std::string& deviceId) const
{
    auto it = connections_.find(deviceId);
    return it == connections_.end() ? std::nullopt : std::optional(it->second);
}

std::string Directory::deviceOf(ConnectionId connection) const
{
    auto it = devices_.find(connection);
    return it == devices_.end() ? std::string() : it->second;
}

Directory::AliasResult Directory::bindAlias(const std::string& deviceId, const std::string& alias, bool smsAuth)
{
    if (auto owner = aliasOwners_.find(alias); owner != aliasOwners_.end() && owner->second != deviceId) {
        return AliasResult::duplicate;
    }
    unbindAlias(deviceId);
    aliases_[deviceId] = Alias{alias, smsAuth};
    aliasOwners_[alias] = deviceId;
    return AliasResult::bound;
}

void Directory::unbindAlias(const std::string& deviceId)
{
    auto it = aliases_.find(deviceId);
    if (it == aliases_.end()) {
        return;
    }
    aliasOwners_.erase(it->second.alias);
    aliases_.erase(it);
}

std::optional<Directory::Alias> Directory::aliasOf(const std::string& deviceId) const
{
    auto it = aliases_.find(deviceId);
    return it == aliases_.end() ? std::nullopt : std::optional(it->second);
}

std::optional<std::string> Directory::deviceForAlias(const std::string& alias) const
{
    auto it = aliasOwners_.find(alias);
    return it == aliasOwners_.end() ? std::nullopt : std::optional(it->second);
}

std::optional<std::string> Directory::resolve(const std::string& target) const
{
    if (connections_.contains(target)) {
        return target;
    }
    return deviceForAlias(target);
}

} // namespace tavoro::server
