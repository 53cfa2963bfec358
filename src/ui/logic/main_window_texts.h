#pragma once

#include <array>
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

inline const std::string kHostBanner = "对方正在查看/操作此电脑的屏幕";

// The SMS button, disabled with the seconds left while the cooldown runs.
inline std::string smsButtonText(int cooldownSeconds)
{
    return cooldownSeconds > 0 ? "重发验证码（" + std::to_string(cooldownSeconds) + "）" : "发送验证码";
}

inline std::string phoneBoundLabel(const std::string& phoneId) { return "已绑定：" + phoneId; }

// The choices of the device card, in the order of the controller's mode and permission numbers.
inline const std::array<std::string, 2> kIdModes{"9 位 ID", "手机号"};
inline const std::array<std::string, 3> kPwModes{"固定密码", "一次性密码", "短信验证码"};
inline const std::array<std::string, 3> kPermissions{"拒绝所有连接", "仅允许查看", "允许控制"};
inline const std::string kPhonePlaceholder = "11 位手机号，可加 :2 区分";

// What the permission banner's buttons explain: on X11 nothing is granted in a settings pane, the
// conditions are those of the X server this program runs on.
inline const std::string kScreenCaptureHelp =
    "抓屏用的是本程序所在的 X 显示（DISPLAY）：\n"
    "请在图形桌面的 X 会话中运行 Tavoro，或把 DISPLAY（及 XAUTHORITY）设为可访问的 X 服务器；\n"
    "Wayland 桌面请改用 Xorg 会话登录。";
inline const std::string kInputHelp =
    "鼠标键盘控制要用 X 服务器的 XTEST 扩展（Xorg 与 Xvfb 默认开启）：\n"
    "若 X 服务器的启动参数里有 “-extension XTEST”，请去掉后重启 X 服务器。";

// The About box.
inline const std::string kAboutTitle = "关于 Tavoro";
inline std::string aboutVersion(const std::string& version) { return "Tavoro " + versionText(version); }
inline std::string platformLine(const std::string& qtVersion) { return "Linux · X11 · Qt " + qtVersion; }

} // namespace tavoro::ui::text
