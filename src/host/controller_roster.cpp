#include "host/controller_roster.h"

#include <algorithm>

namespace tavoro::host {
namespace {

constexpr int kTicksAfterStart = 5;
constexpr int kTicksAfterHandOver = 3;

} // namespace

std::vector<ControllerTarget> ControllerRoster::targets() const
{
    std::vector<ControllerTarget> all;
    all.reserve(viewers_.size() + 1);
    all.push_back(primary_);
    all.insert(all.end(), viewers_.begin(), viewers_.end());
    return all;
}

bool ControllerRoster::isViewer(const std::string& peerId) const
{
    return std::any_of(viewers_.begin(), viewers_.end(), [&](const auto& v) { return v.peerId == peerId; });
}

bool ControllerRoster::isController(const std::string& peerId) const
{
    return peerId == primary_.peerId || isViewer(peerId);
}

void ControllerRoster::started()
{
    holder_ = primary_.peerId;
    stateTicks_ = kTicksAfterStart;
}

bool ControllerRoster::requestControl(const std::string& from)
{
    if (from.empty() || !isController(from)) {
        return false;
    }
    holder_ = from;
    stateTicks_ = kTicksAfterHandOver;
    return true;
}

bool ControllerRoster::releaseControl(const std::string& from)
{
    if (from.empty() || from != holder_) {
        return false;
    }
    holder_ = kNobody;
    stateTicks_ = kTicksAfterHandOver;
    return true;
}

ControllerRoster::Attach ControllerRoster::attach(const std::string& peerId, const std::string& callId)
{
    auto known = std::find_if(viewers_.begin(), viewers_.end(), [&](const auto& v) { return v.peerId == peerId; });
    Attach result = Attach::refreshed;
    if (known != viewers_.end()) {
        known->callId = callId;
    } else if (static_cast<int>(viewers_.size()) >= kMaxViewers) {
        return Attach::full;
    } else {
        viewers_.push_back({peerId, callId});
        result = Attach::added;
    }
    stateTicks_ = kTicksAfterStart;
    return result;
}

ControllerRoster::Removal ControllerRoster::remove(const std::string& peerId)
{
    auto known = std::find_if(viewers_.begin(), viewers_.end(), [&](const auto& v) { return v.peerId == peerId; });
    if (known == viewers_.end()) {
        return {};
    }
    viewers_.erase(known);
    Removal removal{true, false};
    if (holder_ == peerId) {
        holder_ = primary_.peerId;
        stateTicks_ = kTicksAfterHandOver;
        removal.holderChanged = true;
    }
    return removal;
}

std::optional<std::string> ControllerRoster::promote()
{
    if (viewers_.empty()) {
        return std::nullopt;
    }
    std::string old = primary_.peerId;
    primary_ = viewers_.front();
    viewers_.erase(viewers_.begin());
    if (holder_ == old) {
        holder_ = primary_.peerId;
    }
    stateTicks_ = kTicksAfterStart;
    return old;
}

std::vector<ControllerTarget> ControllerRoster::clear()
{
    auto viewers = std::move(viewers_);
    viewers_.clear();
    holder_ = kNobody;
    stateTicks_ = 0;
    return viewers;
}

bool ControllerRoster::takeStateTick()
{
    if (stateTicks_ <= 0) {
        return false;
    }
    --stateTicks_;
    return true;
}

} // namespace tavoro::host
