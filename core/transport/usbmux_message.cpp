#include "core/transport/usbmux_message.h"

#include <cstring>

#include "core/transport/error.h"

namespace kova::usbmux {
namespace {

constexpr uint32_t kVersion = 1;
constexpr uint32_t kPlistMessage = 8;
constexpr uint32_t kTag = 1;
// The daemon's clients copy strings into a 256-byte buffer, terminator included.
constexpr size_t kMaxStringBytes = 255;

void put_u32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<uint8_t>(value >> shift));
    }
}

uint32_t get_u32(const uint8_t* in) {
    return static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 |
           static_cast<uint32_t>(in[2]) << 16 | static_cast<uint32_t>(in[3]) << 24;
}

}  // namespace

Plist new_request(const std::string& message_type) {
    Plist request(plist_new_dict());
    plist_dict_set_item(request.get(), "MessageType", plist_new_string(message_type.c_str()));
    plist_dict_set_item(request.get(), "ClientVersionString", plist_new_string("KOVA"));
    plist_dict_set_item(request.get(), "ProgName", plist_new_string("KOVA Connect"));
    return request;
}

std::vector<uint8_t> encode_message(plist_t request) {
    char* xml = nullptr;
    uint32_t xml_size = 0;
    if (request != nullptr) {
        plist_to_xml(request, &xml, &xml_size);
    }
    if (xml == nullptr || xml_size > kMaxMessageBytes - kHeaderBytes) {
        plist_to_xml_free(xml);
        throw Error("usbmux_encode");
    }
    std::vector<uint8_t> message;
    message.reserve(kHeaderBytes + xml_size);
    put_u32(message, kHeaderBytes + xml_size);
    put_u32(message, kVersion);
    put_u32(message, kPlistMessage);
    put_u32(message, kTag);
    message.insert(message.end(), xml, xml + xml_size);
    plist_to_xml_free(xml);
    return message;
}

uint32_t reply_length(const uint8_t* header) {
    const uint32_t length = get_u32(header);
    if (length < kHeaderBytes || length > kMaxMessageBytes) {
        throw Error("usbmux_reply_size");
    }
    return length;
}

Plist parse_payload(const uint8_t* payload, size_t size) {
    plist_t parsed = nullptr;
    if (size > 0) {
        plist_from_xml(reinterpret_cast<const char*>(payload), static_cast<uint32_t>(size),
                       &parsed);
    }
    Plist reply(parsed);
    if (!reply || plist_get_node_type(reply.get()) != PLIST_DICT) {
        throw Error("usbmux_bad_reply");
    }
    return reply;
}

Plist decode_reply(const uint8_t* bytes, size_t size) {
    if (size < kHeaderBytes) {
        throw Error("usbmux_read");
    }
    const uint32_t length = reply_length(bytes);
    if (size < length) {
        throw Error("usbmux_read");
    }
    return parse_payload(bytes + kHeaderBytes, length - kHeaderBytes);
}

std::string read_string(plist_t dict, const char* key) {
    const plist_t node = dict != nullptr ? plist_dict_get_item(dict, key) : nullptr;
    if (node == nullptr || plist_get_node_type(node) != PLIST_STRING) {
        return {};
    }
    // Read through the pointer: libplist asserts when a string holds a NUL byte, and a reply
    // may. Like a C buffer copy, the text ends at the first NUL.
    uint64_t length = 0;
    const char* value = plist_get_string_ptr(node, &length);
    const std::string text = value != nullptr ? std::string(value, ::strnlen(value, length)) : "";
    return text.size() > kMaxStringBytes ? std::string() : text;
}

int64_t read_number(plist_t dict, const char* key) {
    const plist_t node = dict != nullptr ? plist_dict_get_item(dict, key) : nullptr;
    // Signed and unsigned integers share one node kind; negatives come back two's complement.
    if (node == nullptr || plist_get_node_type(node) != PLIST_UINT) {
        return -1;
    }
    uint64_t value = 0;
    plist_get_uint_val(node, &value);
    return static_cast<int64_t>(value);
}

}  // namespace kova::usbmux
