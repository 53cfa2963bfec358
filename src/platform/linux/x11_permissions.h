#pragma once

#include "platform/permissions.h"

#include <string>

namespace tavoro::platform {

// On X11, the screen can be captured when the display opens, and input can be injected when the
// server offers XTEST. Each question opens a short-lived connection. Safe from any thread.
class X11Permissions final : public Permissions {
public:
    explicit X11Permissions(std::string displayName = {}) : displayName_(std::move(displayName)) {}

    bool screenCaptureAllowed() override;
    bool inputInjectionAllowed() override;

private:
    std::string displayName_;
};

} // namespace tavoro::platform
