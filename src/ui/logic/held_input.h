#pragma once

#include "protocol/key_codes.h"

#include <nlohmann/json.hpp>

#include <set>
#include <string>
#include <vector>

namespace tavoro::ui {

// The keys and mouse buttons a view has pressed on the remote side and not yet released, so that
// leaving the view (focus lost, window deactivated, hidden or closed) can let go of all of them: the
// view will not see their releases. One per view, on the thread that delivers its events.
class HeldInput {
public:
    void key(protocol::KeyCode vk, bool down);
    // button: the name that travels ("left", "right", "middle").
    void button(const std::string& name, bool down);
    bool empty() const { return keys_.empty() && buttons_.empty(); }

    // The releases: buttons first (ending any drag), then keys; afterwards nothing is held.
    std::vector<nlohmann::json> releaseAll();

private:
    std::set<protocol::KeyCode> keys_;
    std::set<std::string> buttons_;
};

} // namespace tavoro::ui
