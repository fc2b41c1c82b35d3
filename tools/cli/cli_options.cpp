#include "tools/cli/cli_options.h"

namespace kova::cli {

nlohmann::json options_document(const CliOptions& options) {
    nlohmann::json document = {{"device", options.device}};
    if (!options.accessory_id.empty()) {
        document["accessoryId"] = options.accessory_id;
    }
    if (options.kova_device) {
        document["kovaDevice"] = true;
    }
    if (!options.signal.empty()) {
        document["signal"] = options.signal;
    }
    if (!options.wav.empty()) {
        document["wav"] = options.wav;
    }
    if (options.loop) {
        document["loop"] = true;
    }
    if (options.seconds) {
        document["seconds"] = *options.seconds;
    }
    if (options.hello_timeout_ms) {
        document["helloTimeoutMs"] = *options.hello_timeout_ms;
    }
    return document;
}

}  // namespace kova::cli
