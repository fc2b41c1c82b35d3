// Feeds arbitrary bytes in arbitrary chunks; every delivered message must re-encode to
// exactly the bytes it was cut from, and failures must carry one of the parser's codes.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "core/protocol/codec.h"
#include "core/protocol/parser.h"
#include "core/transport/error.h"

namespace {

const std::set<std::string> kParserCodes = {
    "bad_magic",    "bad_major",     "bad_header",   "bad_flags",
    "unknown_type", "payload_limit", "zero_session", "control_frame_index",
    "control_size", "audio_size",    "token_size",   "empty_json",
};

[[noreturn]] void fail(const char* why) {
    std::fprintf(stderr, "parser_feed: %s\n", why);
    std::abort();
}

struct Stream {
    std::vector<uint8_t> bytes;  // everything fed so far
    size_t frame_start = 0;      // where the next delivered frame must begin

    void check(const kova::Message& message) {
        std::vector<uint8_t> frame;
        try {
            frame = kova::encode(message);
        } catch (const kova::Error&) {
            fail("delivered message fails validation");
        }
        if (frame.size() > bytes.size() - frame_start ||
            !std::equal(frame.begin(), frame.end(), bytes.begin() + frame_start)) {
            fail("delivered message does not re-encode to its bytes");
        }
        frame_start += frame.size();
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    kova::Parser parser;
    Stream stream;
    const auto on_message = [&stream](kova::Message message) { stream.check(message); };
    while (input.remaining_bytes() > 0) {
        const size_t chunk_size = input.ConsumeIntegralInRange<size_t>(0, 9000);
        const std::vector<uint8_t> chunk = input.ConsumeBytes<uint8_t>(chunk_size);
        stream.bytes.insert(stream.bytes.end(), chunk.begin(), chunk.end());
        try {
            parser.feed(chunk.data(), chunk.size(), on_message);
        } catch (const kova::Error& error) {
            if (kParserCodes.count(error.what()) == 0 || !parser.closed()) {
                fail(error.what());
            }
            try {
                parser.feed(chunk.data(), chunk.size(), on_message);
            } catch (const kova::Error& again) {
                if (std::string(again.what()) == "parser_closed") {
                    return 0;
                }
            }
            fail("a failed parser accepted more input");
        }
    }
    // Whatever was not delivered is a partial frame, which end_of_input must refuse.
    const bool partial = stream.frame_start != stream.bytes.size();
    try {
        parser.end_of_input();
    } catch (const kova::Error&) {
        if (!partial) {
            fail("end_of_input refused a clean stream");
        }
        return 0;
    }
    if (partial) {
        fail("end_of_input accepted a partial frame");
    }
    return 0;
}
