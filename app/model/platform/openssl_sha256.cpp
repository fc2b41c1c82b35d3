#include "app/model/platform/openssl_sha256.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace kova {

Sha256::Digest OpenSslSha256::digest(std::string_view data) {
    Digest result{};
    unsigned int length = 0;
    if (EVP_Digest(data.data(), data.size(), result.data(), &length, EVP_sha256(), nullptr) != 1 ||
        length != result.size()) {
        throw std::runtime_error("sha256_failed");
    }
    return result;
}

}  // namespace kova
