#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace kova {

/// SHA-256 of a byte string.
class Sha256 {
  public:
    /// The 32 digest bytes.
    using Digest = std::array<std::uint8_t, 32>;
    virtual ~Sha256() = default;
    /// Digest of exactly the bytes of `data`.
    virtual Digest digest(std::string_view data) = 0;
};

}  // namespace kova
