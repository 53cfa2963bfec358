#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace tavoro::platform {

// Where an installation keeps its settings: the explicit folder when given (--config-dir), else
// $TAVORO_CONFIG_DIR, else $XDG_CONFIG_HOME/tavoro, else ~/.config/tavoro.
std::filesystem::path resolveConfigDir(const std::optional<std::string>& explicitDir);

} // namespace tavoro::platform
