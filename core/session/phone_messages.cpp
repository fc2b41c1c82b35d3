#include "core/session/phone_messages.h"

#include "core/protocol/codec.h"
#include "core/protocol/json_payload.h"
#include "core/protocol/message.h"
#include "core/session/report.h"
#include "core/transport/error.h"

namespace kova {
namespace {

constexpr const char* kAudioCapability = "pcm_s16le_48000_stereo";

bool contains_string(const nlohmann::json& array, const char* value) {
    for (const auto& element : array) {
        if (element.is_string() && element.get_ref<const std::string&>() == value) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::vector<uint8_t> desktop_hello_payload() {
    return json_bytes({{"role", "mac"},
                       {"build", kBuild},
                       {"protocolMinor", 0},
                       {"capabilities", {"ping", "status", kAudioCapability}}});
}

std::vector<uint8_t> audio_config_payload() {
    return json_bytes({{"sampleRate", 48000},
                       {"channels", 2},
                       {"sampleFormat", "s16le"},
                       {"framesPerMessage", 192}});
}

// Required members are looked up with at(), so a missing one fails with the JSON library's text.
void check_phone_hello(const nlohmann::json& hello, bool treated_as_ios, bool has_audio) {
    const auto& role = hello.at("role");
    if (!role.is_string() ||
        role.get_ref<const std::string&>() != (treated_as_ios ? "ios" : "android")) {
        throw Error("bad_hello");
    }
    const auto& minor = hello.at("protocolMinor");
    if (!minor.is_number_integer() || minor != 0) {
        throw Error("bad_hello");
    }
    if (!hello.at("build").is_string()) {
        throw Error("bad_hello");
    }
    const auto& capabilities = hello.at("capabilities");
    if (!capabilities.is_array()) {
        throw Error("bad_hello");
    }
    if (!contains_string(capabilities, "ping")) {
        throw Error("ping_not_supported");
    }
    if (has_audio && !contains_string(capabilities, kAudioCapability)) {
        throw Error("install_gate2_android_build");
    }
}

void check_config_ack(const nlohmann::json& ack) {
    const auto& accepted = ack.at("accepted");
    if (!accepted.is_boolean()) {
        throw Error("bad_config_ack");
    }
    if (accepted.get<bool>()) {
        return;
    }
    const std::string reason = ack.value("reason", std::string());
    throw Error(reason.empty() ? std::string("config_rejected") : "phone_error: " + reason);
}

std::string phone_error_code(const nlohmann::json& error) {
    return "phone_error: " + error.at("code").get<std::string>();
}

std::vector<uint8_t> token_bytes(uint64_t token) {
    std::vector<uint8_t> bytes(kTokenSize);
    put_u64le(bytes.data(), token);
    return bytes;
}

uint64_t token_value(const std::vector<uint8_t>& payload) {
    return payload.size() < kTokenSize ? 0 : get_u64le(payload.data());
}

}  // namespace kova
