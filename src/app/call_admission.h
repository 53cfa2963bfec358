#pragma once

#include "core/clock.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

namespace tavoro::app {

// The UDP relay the server assigned to a call.
struct CallRelay {
    std::string host;
    std::int64_t port = 0; // 0 when absent or not a number that fits
    std::string token;
};

// The fields of an incoming "call", read leniently.
struct IncomingCall {
    std::string from;
    std::string callId;
    std::string password;
    std::string mode = "control";
    std::string fromName; // "from" when the caller gave none
    bool smsVerified = false;
    std::optional<CallRelay> relay;
};

// Nothing when the caller's ID is not nine characters long: such a call is dropped unanswered.
std::optional<IncomingCall> readIncomingCall(const nlohmann::json& message);

// What the host's user allows.
struct AdmissionPolicy {
    int permission = 2; // 0 nobody, 1 view only, 2 control
    int pwMode = 0;     // 0 fixed, 1 one-time, 2 SMS code
    std::string password;
};

// Refuses password-checked calls for a while after repeated wrong passwords, so that the short
// password cannot be guessed by trying: 5 wrong passwords within 10 minutes, from any callers, lock
// password calls out for 5 minutes. Not thread-safe; the admission runs on the signaling queue.
class PasswordGuard {
public:
    static constexpr int kAllowedFailures = 5;
    static constexpr auto kWindow = std::chrono::minutes(10);
    static constexpr auto kLockout = std::chrono::minutes(5);

    bool lockedOut(core::SteadyTime now) const { return lockedUntil_ && now < *lockedUntil_; }
    // Counts one wrong password; true when this one starts a lockout.
    bool recordFailure(core::SteadyTime now);

private:
    std::deque<core::SteadyTime> failures_;
    std::optional<core::SteadyTime> lockedUntil_;
};

namespace refusal {
inline const std::string kNobody = "对方已拒绝所有连接";
inline const std::string kSmsOnly = "对方使用短信验证码连接，请用手机号 + 验证码";
inline const std::string kWrongPassword = "密码错误";
inline const std::string kViewOnly = "对方仅允许查看";
inline const std::string kTooMany = "too_many_controllers";
} // namespace refusal

// The refusal reason for a call, tested in order (permission, SMS mode, password, view-only), or
// nothing when the call may be admitted. Wrong passwords are counted in the guard; `lockoutStarted`
// is set when this call started a lockout.
std::optional<std::string> refusalFor(const IncomingCall& call, const AdmissionPolicy& policy,
    PasswordGuard& guard, core::SteadyTime now, bool& lockoutStarted);

} // namespace tavoro::app
