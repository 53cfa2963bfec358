#include "app/call_admission.h"

#include "core/json_fields.h"

#include <algorithm>
#include <cctype>

namespace tavoro::app {
namespace {

bool equalIgnoringCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
        return std::tolower(x) == std::tolower(y);
    });
}

std::optional<CallRelay> readRelay(const nlohmann::json& message)
{
    const auto* relay = json::objectField(message, "relay");
    if (!relay) {
        return std::nullopt;
    }
    return CallRelay{json::stringField(*relay, "host"), json::intField(*relay, "port", 0),
        json::stringField(*relay, "token")};
}

} // namespace

std::optional<IncomingCall> readIncomingCall(const nlohmann::json& message)
{
    IncomingCall call;
    call.from = json::stringField(message, "from");
    if (call.from.size() != 9) {
        return std::nullopt;
    }
    call.callId = json::stringField(message, "call_id");
    call.password = json::stringField(message, "password");
    if (const auto* mode = json::find(message, "mode"); mode && mode->is_string()) {
        call.mode = mode->get<std::string>();
    }
    const auto* name = json::find(message, "from_name");
    call.fromName = name && name->is_string() ? name->get<std::string>() : call.from;
    call.smsVerified = json::boolField(message, "sms_verified");
    call.relay = readRelay(message);
    return call;
}

bool PasswordGuard::recordFailure(core::SteadyTime now)
{
    while (!failures_.empty() && now - failures_.front() >= kWindow) {
        failures_.pop_front();
    }
    failures_.push_back(now);
    if (static_cast<int>(failures_.size()) < kAllowedFailures) {
        return false;
    }
    failures_.clear();
    lockedUntil_ = now + kLockout;
    return true;
}

std::optional<std::string> refusalFor(const IncomingCall& call, const AdmissionPolicy& policy,
    PasswordGuard& guard, core::SteadyTime now, bool& lockoutStarted)
{
    lockoutStarted = false;
    if (policy.permission == 0) {
        return refusal::kNobody;
    }
    if (policy.pwMode == 2 && !call.smsVerified) {
        return refusal::kSmsOnly;
    }
    if (policy.pwMode != 2 && !call.smsVerified) {
        if (guard.lockedOut(now)) {
            return refusal::kWrongPassword;
        }
        if (!equalIgnoringCase(call.password, policy.password)) {
            lockoutStarted = guard.recordFailure(now);
            return refusal::kWrongPassword;
        }
    }
    if (policy.permission == 1 && call.mode != "view") {
        return refusal::kViewOnly;
    }
    return std::nullopt;
}

} // namespace tavoro::app
