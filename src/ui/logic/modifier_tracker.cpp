#include "ui/logic/modifier_tracker.h"

#include "control/input_messages.h"
#include "protocol/key_codes.h"

#include <array>

namespace tavoro::ui {

std::vector<nlohmann::json> ModifierTracker::update(Modifiers now)
{
    namespace key = protocol::key;
    const std::array<std::pair<bool Modifiers::*, protocol::KeyCode>, 4> flags{{
        {&Modifiers::shift, key::shift},
        {&Modifiers::control, key::control},
        {&Modifiers::alt, key::alt},
        {&Modifiers::super, key::superLeft},
    }};
    std::vector<nlohmann::json> changes;
    for (const auto& [flag, vk] : flags) {
        if (held_.*flag != now.*flag) {
            changes.push_back(control::input::key(vk, now.*flag));
        }
    }
    held_ = now;
    return changes;
}

} // namespace tavoro::ui
