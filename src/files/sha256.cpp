#include "files/sha256.h"

#include <openssl/evp.h>

namespace tavoro::files {

struct Sha256::Context {
    struct Free {
        void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
    };
    std::unique_ptr<EVP_MD_CTX, Free> md{EVP_MD_CTX_new()};
};

Sha256::Sha256() : context_(std::make_unique<Context>())
{
    EVP_DigestInit_ex(context_->md.get(), EVP_sha256(), nullptr);
}

Sha256::~Sha256() = default;

void Sha256::update(std::span<const std::uint8_t> bytes)
{
    EVP_DigestUpdate(context_->md.get(), bytes.data(), bytes.size());
}

std::string Sha256::hexDigest()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context_->md.get(), digest, &length);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(2 * length);
    for (unsigned int i = 0; i < length; ++i) {
        hex.push_back(kHex[digest[i] >> 4]);
        hex.push_back(kHex[digest[i] & 0xf]);
    }
    return hex;
}

} // namespace tavoro::files
