#include "tools/phone/phone_messages.h"

#include "core/protocol/codec.h"
#include "core/protocol/json_payload.h"

namespace kova::phone {
namespace {

using nlohmann::json;

constexpr uint64_t kEarlierSession = 0x5eed0000cafe0001ULL;

json capabilities(Misbehaviour misbehaviour) {
    switch (misbehaviour) {
        case Misbehaviour::MissingPingCapability:
            return json::array({"status"});
        case Misbehaviour::NoPcmCapability:
            return json::array({"ping", "status"});
        default:
            return json::array({"ping", "status", "pcm_s16le_48000_stereo"});
    }
}

json protocol_minor(Misbehaviour misbehaviour) {
    switch (misbehaviour) {
        case Misbehaviour::ProtocolMinorFloat:
            return 0.0;
        case Misbehaviour::ProtocolMinorString:
            return "1";
        default:
            return 0;
    }
}

bool config_supported(const json& config) {
    return config.value("sampleRate", json()) == 48000 && config.value("channels", json()) == 2 &&
           config.value("sampleFormat", json()) == "s16le" &&
           config.value("framesPerMessage", json()) == 192;
}

}  // namespace

json hello_body(const std::string& role, Misbehaviour misbehaviour) {
    std::string announced = role;
    if (misbehaviour == Misbehaviour::WrongRole) {
        announced = role == "ios" ? "android" : "ios";
    }
    return json{{"role", announced},
                {"protocolMinor", protocol_minor(misbehaviour)},
                {"build", kPhoneBuild},
                {"capabilities", capabilities(misbehaviour)}};
}

json config_ack_body(const json& config, Misbehaviour misbehaviour) {
    switch (misbehaviour) {
        case Misbehaviour::ConfigRefused:
            return json{{"accepted", false}, {"reason", "sample_rate_unsupported"}};
        case Misbehaviour::ConfigRefusedNoReason:
            return json{{"accepted", false}};
        case Misbehaviour::ConfigAcceptedNotBoolean:
            return json{{"accepted", "yes"}};
        default:
            break;
    }
    if (!config_supported(config)) {
        return json{{"accepted", false}, {"reason", "unsupported_format"}};
    }
    return json{{"accepted", true}};
}

json status_body(const std::string& state, const std::string& route, double occupancy_mean,
                 uint64_t underruns) {
    return json{{"state", state},
                {"route", route},
                {"occupancyMean", occupancy_mean},
                {"underruns", underruns}};
}

std::vector<uint8_t> stale_session_bytes(size_t count) {
    std::vector<uint8_t> bytes;
    Message leftover{Type::Status, kEarlierSession, 0, 0,
                     json_bytes(status_body("Streaming", "built_in_speaker", 960.0, 0))};
    while (bytes.size() < count) {
        const std::vector<uint8_t> frame = encode(leftover);
        bytes.insert(bytes.end(), frame.begin(), frame.end());
        ++leftover.sequence;
    }
    bytes.resize(count);
    return bytes;
}

std::vector<uint8_t> garbage_bytes() {
    std::vector<uint8_t> bytes(64);
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(0xA5 ^ (i * 37));
    }
    return bytes;
}

std::vector<uint8_t> bad_header_frame(uint64_t session, uint64_t sequence) {
    const Message status{Type::Status, session, sequence, 0,
                         json_bytes(status_body("Streaming", "built_in_speaker", 0.0, 0))};
    std::vector<uint8_t> frame = encode(status);
    frame[8] = 48;  // header length field, little-endian
    return frame;
}

}  // namespace kova::phone
