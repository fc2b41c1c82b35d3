// The options document of a session start, read and validated exactly as kova_session_start
// does before it opens anything: refused with an exception or a known code, or accepted with
// values the session can run on.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <stdexcept>
#include <string>

#include "core/session/options_document.h"
#include "core/session/session_options.h"
#include "core/transport/error.h"

namespace {

const std::set<std::string> kOptionCodes = {"invalid_timeout", "choose_wav_or_signal",
                                            "loop_requires_wav", "choose_one_source",
                                            "explicit_device_and_accessory_id_required_use_--list"};

[[noreturn]] void fail(const char* why) {
    std::fprintf(stderr, "session_options: %s\n", why);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The C interface sees a NUL-terminated text: anything after a NUL is never read.
    const std::string text(reinterpret_cast<const char*>(data), size);
    kova::SessionOptions options;
    try {
        options = kova::parse_options_document(text.c_str());
    } catch (const std::exception&) {
        return 0;
    }
    try {
        kova::validate_options(options);
    } catch (const kova::Error& error) {
        if (kOptionCodes.count(error.what()) == 0) {
            fail(error.what());
        }
        return 0;
    }
    if (options.seconds < 0 || options.seconds > 7200) {
        fail("accepted a streaming length out of range");
    }
    if (options.hello_timeout_ms < 1000 || options.hello_timeout_ms > 120000) {
        fail("accepted a hello time-out out of range");
    }
    if (options.device.empty()) {
        fail("accepted an empty device");
    }
    const int sources =
        !options.wav.empty() + !options.signal.empty() + !options.capture_uid.empty();
    if (sources > 1 || (options.loop && options.wav.empty())) {
        fail("accepted conflicting sources");
    }
    return 0;
}
