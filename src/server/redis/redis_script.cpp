#include "server/redis/redis_script.h"

#include <openssl/evp.h>

namespace tavoro::server::redis {

RedisScript RedisScript::of(std::string text)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    std::string hex;
    if (EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha1(), nullptr) == 1) {
        static constexpr char kHex[] = "0123456789abcdef";
        for (unsigned int i = 0; i < length; ++i) {
            hex += kHex[digest[i] >> 4];
            hex += kHex[digest[i] & 15];
        }
    }
    return RedisScript{std::move(text), std::move(hex)};
}

} // namespace tavoro::server::redis
