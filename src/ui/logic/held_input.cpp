#include "ui/logic/held_input.h"

#include "control/input_messages.h"

namespace tavoro::ui {

void HeldInput::key(protocol::KeyCode vk, bool down)
{
    if (down) {
        keys_.insert(vk);
    } else {
        keys_.erase(vk);
    }
}

void HeldInput::button(const std::string& name, bool down)
{
    if (down) {
        buttons_.insert(name);
    } else {
        buttons_.erase(name);
    }
}

std::vector<nlohmann::json> HeldInput::releaseAll()
{
    std::vector<nlohmann::json> releases;
    for (const auto& name : buttons_) {
        releases.push_back(control::input::mouseButton(name, false));
    }
    for (const auto vk : keys_) {
        releases.push_back(control::input::key(vk, false));
    }
    buttons_.clear();
    keys_.clear();
    return releases;
}

} // namespace tavoro::ui
