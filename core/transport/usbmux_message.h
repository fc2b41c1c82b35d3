#pragma once

#include <plist/plist.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kova::usbmux {

/// Size of the header that precedes every message in both directions.
inline constexpr uint32_t kHeaderBytes = 16;
/// Largest whole reply accepted, header included.
inline constexpr uint32_t kMaxMessageBytes = 1048576;

/// Releases a libplist node.
struct PlistFree {
    /// Frees `node` and everything below it.
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
/// An owned libplist node (null when empty).
using Plist = std::unique_ptr<void, PlistFree>;

/// A request dictionary holding "MessageType", "ClientVersionString" and "ProgName".
Plist new_request(const std::string& message_type);
/// The header and XML payload of `request`; throws "usbmux_encode".
std::vector<uint8_t> encode_message(plist_t request);
/// The length field of a reply header; throws "usbmux_reply_size" outside 16..1048576.
uint32_t reply_length(const uint8_t* header);
/// The reply dictionary in `payload`; throws "usbmux_bad_reply" for anything else.
Plist parse_payload(const uint8_t* payload, size_t size);
/// One whole reply (header, payload; later bytes ignored); throws as above, or "usbmux_read"
/// when the bytes end before the announced length.
Plist decode_reply(const uint8_t* bytes, size_t size);

/// The string under `key`, or "" when absent, not a string or longer than 255 bytes.
std::string read_string(plist_t dict, const char* key);
/// The integer under `key` as signed 64 bits, or -1 when absent or not an integer.
int64_t read_number(plist_t dict, const char* key);

}  // namespace kova::usbmux
