#include "server/address_limit.h"

namespace tavoro::server {

AddressLimit::Slot::~Slot()
{
    if (!counts_) {
        return;
    }
    std::lock_guard lock(counts_->mutex);
    auto it = counts_->perAddress.find(address_);
    if (it != counts_->perAddress.end() && --it->second == 0) {
        counts_->perAddress.erase(it);
    }
}

std::optional<AddressLimit::Slot> AddressLimit::take(const std::string& address)
{
    if (perAddress_ == 0) {
        return std::nullopt;
    }
    std::lock_guard lock(counts_->mutex);
    std::size_t& count = counts_->perAddress[address];
    if (count >= perAddress_) {
        return std::nullopt;
    }
    ++count;
    return Slot(counts_, address);
}

std::size_t AddressLimit::connectionsFrom(const std::string& address) const
{
    std::lock_guard lock(counts_->mutex);
    auto it = counts_->perAddress.find(address);
    return it == counts_->perAddress.end() ? 0 : it->second;
}

} // namespace tavoro::server
