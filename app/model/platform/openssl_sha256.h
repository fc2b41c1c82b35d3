#pragma once

#include "app/model/ports/sha256.h"

namespace kova {

/// SHA-256 through OpenSSL's EVP digest interface.
class OpenSslSha256 : public Sha256 {
  public:
    /// Digest of `data`; throws std::runtime_error when OpenSSL fails.
    Digest digest(std::string_view data) override;
};

}  // namespace kova
