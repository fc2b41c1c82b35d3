// parse_json on arbitrary payloads: it either refuses with one of its codes or one of the JSON
// library's own errors, or returns an object whose compact bytes parse back to it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "core/protocol/json_payload.h"
#include "core/transport/error.h"

namespace {

const std::set<std::string> kJsonCodes = {"json_size", "json_depth", "duplicate_json_key",
                                          "json_object_required"};

[[noreturn]] void fail(const char* why) {
    std::fprintf(stderr, "parse_json: %s\n", why);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> payload(data, data + size);
    nlohmann::json value;
    try {
        value = kova::parse_json(payload);
    } catch (const kova::Error& error) {
        if (kJsonCodes.count(error.what()) == 0) {
            fail(error.what());
        }
        return 0;
    } catch (const nlohmann::json::exception&) {
        return 0;
    }
    if (!value.is_object()) {
        fail("result is not an object");
    }
    const std::vector<uint8_t> bytes = kova::json_bytes(value);
    // Numbers may print longer than they were written, so a re-serialised payload can
    // exceed the payload limit; the library's parser checks those.
    const nlohmann::json again = bytes.size() <= 8192
                                     ? kova::parse_json(bytes)
                                     : nlohmann::json::parse(bytes.begin(), bytes.end());
    if (again != value) {
        fail("compact bytes do not parse back to the same value");
    }
    if (kova::json_bytes(again) != bytes) {
        fail("serialisation is not stable");
    }
    return 0;
}
