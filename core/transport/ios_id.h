#pragma once

#include <string>

namespace kova {

/// "ios:" and the first 6 bytes of the SHA-256 digest of `serial` in lower-case hex.
std::string ios_id(const std::string& serial);

}  // namespace kova
