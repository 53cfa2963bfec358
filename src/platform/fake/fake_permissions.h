#pragma once

#include "platform/permissions.h"

#include <atomic>

namespace tavoro::platform::fake {

// Permissions the test grants or withholds.
class FakePermissions final : public Permissions {
public:
    std::atomic<bool> screen{true};
    std::atomic<bool> input{true};

    bool screenCaptureAllowed() override { return screen; }
    bool inputInjectionAllowed() override { return input; }
};

} // namespace tavoro::platform::fake
