#pragma once

namespace tavoro::platform {

// Whether this process may record the screen and inject input. Safe from any thread.
class Permissions {
public:
    virtual ~Permissions() = default;
    virtual bool screenCaptureAllowed() = 0;
    virtual bool inputInjectionAllowed() = 0;
};

} // namespace tavoro::platform
