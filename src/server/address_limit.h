#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

namespace tavoro::server {

// Counts the connections of each source address so that one address cannot hold every descriptor
// of the server. A connection holds a Slot from accept to the closing of its socket; the count is
// kept in shared state, so slots may outlive the AddressLimit. Pure logic; any thread may take a slot,
// read a count or let a slot go (a connection's slot goes on the thread that serves it): Counts::mutex
// guards the counts.
class AddressLimit {
    struct Counts {
        std::mutex mutex;
        std::unordered_map<std::string, std::size_t> perAddress; // guarded by mutex
    };

public:
    class Slot {
    public:
        Slot(std::shared_ptr<Counts> counts, std::string address) : counts_(std::move(counts)), address_(std::move(address)) {}
        ~Slot();
        Slot(Slot&&) noexcept = default;
        Slot& operator=(Slot&&) noexcept = delete;
        Slot(const Slot&) = delete;
        Slot& operator=(const Slot&) = delete;

    private:
        std::shared_ptr<Counts> counts_; // empty once moved from
        std::string address_;
    };

    explicit AddressLimit(std::size_t perAddress) : perAddress_(perAddress) {}

    // A slot for one more connection from `address`; none when it already holds the limit.
    std::optional<Slot> take(const std::string& address);
    std::size_t connectionsFrom(const std::string& address) const;

private:
    std::size_t perAddress_;
    std::shared_ptr<Counts> counts_ = std::make_shared<Counts>();
};

} // namespace tavoro::server
