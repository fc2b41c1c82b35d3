#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kova {

/// A byte link to the phone, whatever carries it.
class Transport {
public:
    /// Destroys the link and releases what it holds.
    virtual ~Transport() = default;
    /// Hands every byte to the link before `timeout_ms`, or throws kova::Error.
    virtual void write(const std::vector<uint8_t>& bytes, unsigned timeout_ms) = 0;
    /// Returns the bytes of one arrival within `timeout_ms`, possibly none.
    virtual std::vector<uint8_t> read(unsigned timeout_ms) = 0;
    /// A short description of the link kind.
    virtual std::string name() const = 0;
};

}  // namespace kova
