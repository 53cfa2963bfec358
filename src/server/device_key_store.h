#pragma once

#include <optional>
#include <string>
#include <unordered_map>

namespace tavoro::server {

// Which installation owns each device ID: the digest of the device key that first claimed it
// (deviceKeyDigest). An ID once stored keeps its digest for good. The hub calls it on the signaling
// thread only; implementations need no locking of their own for that.
class DeviceKeyStore {
public:
    virtual ~DeviceKeyStore() = default;
    // The digest stored for deviceId, or none. When the store cannot tell, an empty digest, which no
    // key matches: a failing store refuses rather than hands out IDs.
    virtual std::optional<std::string> find(const std::string& deviceId) = 0;
    // Stores digest for deviceId unless it has one already. False when the store could not keep it.
    virtual bool add(const std::string& deviceId, const std::string& digest) = 0;
};

// Kept in memory only: for tests, and for a server run without a state folder.
class MemoryDeviceKeyStore final : public DeviceKeyStore {
public:
    std::optional<std::string> find(const std::string& deviceId) override
    {
        auto it = digests_.find(deviceId);
        return it == digests_.end() ? std::nullopt : std::optional(it->second);
    }
    bool add(const std::string& deviceId, const std::string& digest) override
    {
        digests_.emplace(deviceId, digest);
        return true;
    }
    std::size_t size() const { return digests_.size(); }

private:
    std::unordered_map<std::string, std::string> digests_; // device ID -> key digest
};

} // namespace tavoro::server
