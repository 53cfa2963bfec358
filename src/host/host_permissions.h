#pragma once

#include "platform/permissions.h"

#include <functional>
#include <string>
#include <string_view>

namespace tavoro::host {

// Status lines for the conditions that keep this computer from being controlled on X11.
inline constexpr std::string_view noScreenCaptureStatus =
    "⚠ 无法打开 X 显示，不能抓屏：请在图形桌面会话中运行 Tavoro，或把 DISPLAY（及 XAUTHORITY）设为可访问的 X 服务器";
inline constexpr std::string_view noInputInjectionStatus =
    "⚠ X 服务器缺少 XTEST 扩展，鼠标键盘将无法控制本机：请在 X 服务器上启用 XTEST 扩展（Xorg 与 Xvfb 默认开启）";

// The checks a host session makes before it captures: reports each missing condition on onStatus
// (and logs a missing screen) and returns whether capture may start. Missing input injection does
// not stop capture.
bool checkHostPermissions(platform::Permissions& permissions, bool injectInput,
    const std::function<void(const std::string&)>& onStatus);

} // namespace tavoro::host
