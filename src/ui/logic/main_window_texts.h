#pragma once

#include <optional>
#include <string>

// The main window's texts that follow the application's state.
namespace tavoro::ui::text {

inline std::string versionText(const std::string& version) { return "v" + version; }

// The banner's badge and the status band's signaling part.
inline std::string connectionBadge(bool online) { return online ? "在线" : "连接中"; }
inline std::string signalingStatus(bool online) { return online ? "信令在线" : "连接中"; }

// The status band's session parts.
inline std::string controlStatus(bool controlling) { return controlling ? "控制中" : "未在控制"; }
inline std::string hostStatus(const std::optional<std::string>& hostPeerName)
{
    return hostPeerName ? "被控中 · " + *hostPeerName : "可被控";
}

inline const std::string kHostBanner = "对方正在查看/操作此 Mac 的屏幕";

// The SMS button, disabled with the seconds left while the cooldown runs.
inline std::string smsButtonText(int cooldownSeconds)
{
    return cooldownSeconds > 0 ? "重发验证码（" + std::to_string(cooldownSeconds) + "）" : "发送验证码";
}

inline std::string phoneBoundLabel(const std::string& phoneId) { return "已绑定：" + phoneId; }

} // namespace tavoro::ui::text
