#pragma once

#include "platform/secure_random.h"

namespace tavoro::platform {

// getrandom(2): blocks only until the kernel's pool is first initialised.
class SystemRandom final : public SecureRandom {
public:
    void fill(std::span<std::uint8_t> bytes) override;
};

} // namespace tavoro::platform
