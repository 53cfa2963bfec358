#pragma once

#include <string>

namespace tavoro::server {

// Where SMS codes go out. Called on the signaling thread: an implementation that talks to a real
// SMS provider must hand the work to its own thread and return at once.
class SmsGateway {
public:
    virtual ~SmsGateway() = default;
    virtual void sendCode(const std::string& phone, const std::string& code) = 0;
};

} // namespace tavoro::server
