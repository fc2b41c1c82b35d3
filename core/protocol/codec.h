#pragma once

#include <cstdint>
#include <vector>

#include "core/protocol/message.h"

namespace kova {

/// Checks `message` as if its payload were `payload_length` bytes long; throws kova::Error.
void validate(const Message& message, size_t payload_length);

/// Validates `message`, then returns exactly one encoded frame (header and payload).
std::vector<uint8_t> encode(const Message& message);

/// A non-zero 64-bit value from the system's entropy source.
uint64_t random_id();

/// Writes `value` least significant byte first into `out[0..7]`.
void put_u64le(uint8_t* out, uint64_t value);

/// Reads a 64-bit little-endian value from `in[0..7]`.
uint64_t get_u64le(const uint8_t* in);

}  // namespace kova
