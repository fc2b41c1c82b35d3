#include "core/transport/ios_id.h"

#include <openssl/evp.h>

#include <array>
#include <cstdio>

#include "core/transport/error.h"

namespace kova {
namespace {

constexpr size_t kIdDigestBytes = 6;

}  // namespace

std::string ios_id(const std::string& serial) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int digest_size = 0;
    if (EVP_Digest(serial.data(), serial.size(), digest.data(), &digest_size, EVP_sha256(),
                   nullptr) != 1) {
        throw Error("sha256_failed");
    }
    std::string id = "ios:";
    char hex[3];
    for (size_t i = 0; i < kIdDigestBytes; ++i) {
        std::snprintf(hex, sizeof hex, "%02x", digest[i]);
        id += hex;
    }
    return id;
}

}  // namespace kova
