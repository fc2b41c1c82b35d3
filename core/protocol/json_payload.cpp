#include "core/protocol/json_payload.h"

#include <set>
#include <string>

#include "core/protocol/message.h"
#include "core/transport/error.h"

namespace kova {
namespace {

constexpr int kMaxDepth = 32;

// Tracks the keys of the object open at each depth so that a repeated key is refused
// instead of silently replacing the first value.
class KeyTracker {
public:
    bool operator()(int depth, nlohmann::json::parse_event_t event, nlohmann::json& parsed) {
        using Event = nlohmann::json::parse_event_t;
        if (depth > kMaxDepth) {
            throw Error("json_depth");
        }
        switch (event) {
            case Event::object_start:
                keys_[depth + 1].clear();
                break;
            case Event::key:
                if (!keys_[depth].insert(parsed.get<std::string>()).second) {
                    throw Error("duplicate_json_key");
                }
                break;
            case Event::object_end:
                keys_[depth + 1].clear();
                break;
            default:
                break;
        }
        return true;
    }

private:
    std::set<std::string> keys_[kMaxDepth + 2];
};

}  // namespace

nlohmann::json parse_json(const std::vector<uint8_t>& payload) {
    if (payload.empty() || payload.size() > kMaxPayload) {
        throw Error("json_size");
    }
    KeyTracker tracker;
    nlohmann::json::parser_callback_t callback =
        [&tracker](int depth, nlohmann::json::parse_event_t event, nlohmann::json& parsed) {
            return tracker(depth, event, parsed);
        };
    nlohmann::json value = nlohmann::json::parse(payload.begin(), payload.end(), callback,
                                                 /*allow_exceptions=*/true,
                                                 /*ignore_comments=*/false);
    if (!value.is_object()) {
        throw Error("json_object_required");
    }
    return value;
}

std::string json_text(const nlohmann::json& value) {
    return value.dump();
}

std::vector<uint8_t> json_bytes(const nlohmann::json& value) {
    const std::string text = json_text(value);
    return std::vector<uint8_t>(text.begin(), text.end());
}

}  // namespace kova
