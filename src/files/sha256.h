#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace tavoro::files {

// An incremental SHA-256 digest. One thread at a time.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void update(std::span<const std::uint8_t> bytes);
    // The digest of everything added, as 64 lower-case hex digits. Ends the computation.
    std::string hexDigest();

private:
    struct Context;
    std::unique_ptr<Context> context_;
};

} // namespace tavoro::files
