#pragma once

#include "server/sms_gateway.h"

#include <filesystem>
#include <mutex>

namespace tavoro::server {

// The built-in gateway for self-hosted set-ups and tests: appends "SMS to PHONE: CODE" as one line
// to a file (readable by its owner only) and logs the same line. Any thread; `mutex_` serialises
// the appends.
class FileSmsGateway final : public SmsGateway {
public:
    explicit FileSmsGateway(std::filesystem::path file) : file_(std::move(file)) {}
    void sendCode(const std::string& phone, const std::string& code) override;

private:
    std::filesystem::path file_;
    std::mutex mutex_;
};

} // namespace tavoro::server
