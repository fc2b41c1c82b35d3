#include "core/session/options_document.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

namespace kova {

namespace {

using nlohmann::json;

template <typename T>
void read_optional(const json& document, const char* key, T& destination) {
    const auto found = document.find(key);
    if (found != document.end()) {
        destination = found->get<T>();
    }
}

// Integer options take any JSON number (fractions truncated toward zero) or a boolean;
// values beyond 32 bits saturate so that a huge number is refused, not wrapped into range.
void read_int32(const json& document, const char* key, int32_t& destination) {
    const auto found = document.find(key);
    if (found == document.end()) {
        return;
    }
    if (found->is_boolean()) {
        destination = found->get<bool>() ? 1 : 0;
        return;
    }
    if (!found->is_number()) {
        throw std::invalid_argument(key);
    }
    const double value = found->is_number_float()      ? std::trunc(found->get<double>())
                         : found->is_number_unsigned() ? static_cast<double>(found->get<uint64_t>())
                                                       : static_cast<double>(found->get<int64_t>());
    if (std::isnan(value)) {
        throw std::invalid_argument(key);
    }
    destination = static_cast<int32_t>(std::clamp(value, -2147483648.0, 2147483647.0));
}

}  // namespace

SessionOptions parse_options_document(std::string_view text) {
    const json document = json::parse(text, nullptr, true, false);
    if (!document.is_object()) {
        throw std::invalid_argument("options must be an object");
    }
    SessionOptions options;
    options.device = document.at("device").get<std::string>();
    read_optional(document, "accessoryId", options.accessory_id);
    bool kova_device = false;
    read_optional(document, "kovaDevice", kova_device);
    if (kova_device) {
        options.capture_uid = kKovaDeviceUid;
    }
    read_optional(document, "signal", options.signal);
    read_optional(document, "wav", options.wav);
    read_optional(document, "loop", options.loop);
    read_int32(document, "seconds", options.seconds);
    read_int32(document, "helloTimeoutMs", options.hello_timeout_ms);
    return options;
}

}  // namespace kova
