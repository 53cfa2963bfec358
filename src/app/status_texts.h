#pragma once

#include <string>

// The status line's fixed texts.
namespace tavoro::app::text {

inline const std::string kConnecting = "连接中…";
inline const std::string kConnectionLost = "连接断开，正在重连…";
inline const std::string kPeerOffline = "对方不在线"; // the server's reason for a call nobody can take
inline const std::string kIdCopied = "已复制 ID 到剪贴板";
inline const std::string kPwModeOneTime = "🔐 密码方式：一次性密码（每次连接后自动更换）";
inline const std::string kPwModeSms = "📲 密码方式：短信验证码（连接走 手机号 + 短信，无需密码）";
inline const std::string kPwModeSmsNeedsPhone = "短信验证码方式需先在「我的 ID」选「手机号」并绑定手机号";
inline const std::string kPwModeFixed = "🔓 密码方式：固定密码";
inline const std::string kBackToNineDigitId = "已切回 9 位 ID";
inline const std::string kPhoneUnbound = "已取消手机号绑定";
inline const std::string kPhoneNeedsElevenDigits = "请填 11 位手机号（同号多台可加 :数字 区分，如 13800000000:2）";
inline const std::string kSmsOnlyForPhones = "「发送验证码」仅用于手机号连接，请填 11 位手机号";
inline const std::string kSignalingDown = "信令未连接";
inline const std::string kSmsCodeSent = "✅ 验证码已发到对方手机，请向对方索取后填入「密码 / 验证码」再连接";

inline const std::string kInvalidTarget = "请输入 9 位 ID 或 11 位手机号";
inline const std::string kSessionEnded = "会话结束";
inline const std::string kTakenOver = "🔀 已被接管：另一台设备连接了该目标";
inline const std::string kNoSessionForFiles = "需先建立会话才能传文件";

// The name this computer gives itself in answers to calls.
inline const std::string kComputerName = "Linux";

inline std::string hostedBy(std::size_t controllers)
{
    return "被 " + std::to_string(controllers) + " 个控制端连接中";
}
inline std::string online(const std::string& deviceId, const std::string& password)
{
    return "在线 · ID " + deviceId + " · 密码 " + password;
}
inline std::string bindingPhone(const std::string& alias) { return "📱 正在绑定手机号 ID " + alias + " …"; }
inline std::string phoneTaken(const std::string& dup)
{
    return "手机号 " + dup + " 已被占用，请加 :数字 区分（如 " + dup + ":2）";
}
inline std::string phoneBound(const std::string& phoneId) { return "手机号已绑定：" + phoneId; }
inline std::string smsRequested(const std::string& phone) { return "📲 已向 " + phone + " 请求短信验证码…"; }
inline std::string calling(const std::string& peer) { return "正在连接 " + peer + " …"; }
inline std::string controlling(const std::string& peer) { return "控制中 · " + peer; }
inline std::string refused(const std::string& reason) { return "对方拒绝: " + reason; }
inline std::string redialing(const std::string& peer) { return "重连中，连上后自动呼叫 " + peer + " …"; }
inline std::string serverError(const std::string& message) { return "服务器: " + message; }

} // namespace tavoro::app::text
