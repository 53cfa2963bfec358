#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tavoro::host {

// One controller of a host session: its device ID and the call ID of its call.
struct ControllerTarget {
    std::string peerId;
    std::string callId;
    bool operator==(const ControllerTarget&) const = default;
};

// Who is attached to a host session and who holds control: the primary (whose call made the
// session), up to three viewers in order of attachment, the control holder ("none" when nobody), and
// how many more times the control state is to be repeated once a second.
//
// Pure logic, not thread-safe: the session keeps it under its `mcLock`.
class ControllerRoster {
public:
    static constexpr int kMaxViewers = 3;
    static inline const std::string kNobody = "none";

    explicit ControllerRoster(ControllerTarget primary) : primary_(std::move(primary)) {}

    const ControllerTarget& primary() const { return primary_; }
    const std::vector<ControllerTarget>& viewers() const { return viewers_; }
    // The primary first, then every viewer in order: everything for every controller goes to these.
    std::vector<ControllerTarget> targets() const;
    const std::string& holder() const { return holder_; }
    int controllerCount() const { return static_cast<int>(viewers_.size()) + 1; }
    bool isViewer(const std::string& peerId) const;
    bool isController(const std::string& peerId) const;

    // The session started: the primary holds control.
    void started();
    // True when control moved to `from` (an attached controller).
    bool requestControl(const std::string& from);
    // True when `from` held control and gave it back.
    bool releaseControl(const std::string& from);

    enum class Attach { added, refreshed, full };
    // A further controller; a device already attached keeps its place with the new call ID.
    Attach attach(const std::string& peerId, const std::string& callId);

    struct Removal {
        bool found = false;
        bool holderChanged = false; // the viewer held control; it went back to the primary
    };
    Removal remove(const std::string& peerId);

    // The first viewer takes the primary's place (and control, if the old primary held it). The old
    // primary, or nothing when there was no viewer.
    std::optional<std::string> promote();

    // Ends the session's roster: the viewers as they were; nobody holds control any more.
    std::vector<ControllerTarget> clear();

    // One repetition of the control state is due; counts it.
    bool takeStateTick();

private:
    ControllerTarget primary_;
    std::vector<ControllerTarget> viewers_;
    std::string holder_ = kNobody;
    int stateTicks_ = 0;
};

} // namespace tavoro::host
