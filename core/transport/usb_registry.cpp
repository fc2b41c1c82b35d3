#include "core/transport/usb_registry.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kova {
namespace {

constexpr size_t kMaxTextBytes = 256;  // terminator included

int64_t number(const RegistryLookup& attribute, const char* key, int base) {
    const char* text = attribute(key);
    if (text == nullptr || *text == '\0') {
        return -1;
    }
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text, &end, base);
    if (errno != 0 || *end != '\0' || value < 0) {
        return -1;
    }
    return value;
}

// Only valid UTF-8 that fits the registry's text limit counts; anything else is unknown.
std::string text(const char* value) {
    if (value == nullptr || std::strlen(value) >= kMaxTextBytes) {
        return "";
    }
    try {
        (void)nlohmann::json(value).dump();
    } catch (const nlohmann::json::exception&) {
        return "";
    }
    return value;
}

std::string preferred(const RegistryLookup& first, const char* first_key,
                      const RegistryLookup& second, const char* second_key) {
    std::string value = text(first(first_key));
    return value.empty() ? text(second(second_key)) : value;
}

}  // namespace

RegistryName registry_name(const RegistryLookup& attribute, const RegistryLookup& property) {
    RegistryName name;
    name.bus = number(attribute, "busnum", 10);
    name.address = number(attribute, "devnum", 10);
    name.vendor = number(attribute, "idVendor", 16);
    name.product = number(attribute, "idProduct", 16);
    if (name.bus >= 0 && name.address >= 0) {
        name.location = (name.bus << 16) | name.address;
    }
    name.vendor_name = preferred(attribute, "manufacturer", property, "ID_VENDOR_FROM_DATABASE");
    name.product_name = preferred(attribute, "product", property, "ID_MODEL_FROM_DATABASE");
    name.serial = text(attribute("serial"));
    return name;
}

}  // namespace kova
