#include "tools/phone/misbehaviour.h"

#include <utility>

#include "core/transport/error.h"

namespace kova::phone {
namespace {

const std::vector<std::pair<std::string, Misbehaviour>>& table() {
    static const std::vector<std::pair<std::string, Misbehaviour>> entries = {
        {"wrong_role", Misbehaviour::WrongRole},
        {"protocol_minor_float", Misbehaviour::ProtocolMinorFloat},
        {"protocol_minor_string", Misbehaviour::ProtocolMinorString},
        {"missing_ping_capability", Misbehaviour::MissingPingCapability},
        {"no_pcm_capability", Misbehaviour::NoPcmCapability},
        {"no_hello", Misbehaviour::NoHello},
        {"status_before_hello", Misbehaviour::StatusBeforeHello},
        {"duplicate_hello", Misbehaviour::DuplicateHello},
        {"config_refused", Misbehaviour::ConfigRefused},
        {"config_refused_no_reason", Misbehaviour::ConfigRefusedNoReason},
        {"config_accepted_not_boolean", Misbehaviour::ConfigAcceptedNotBoolean},
        {"no_config_ack", Misbehaviour::NoConfigAck},
        {"wrong_route", Misbehaviour::WrongRoute},
        {"error_message", Misbehaviour::ErrorMessage},
        {"no_pongs", Misbehaviour::NoPongs},
        {"wrong_pong_token", Misbehaviour::WrongPongToken},
        {"no_stopped", Misbehaviour::NoStopped},
        {"stale_bytes", Misbehaviour::StaleBytes},
        {"wrong_session", Misbehaviour::WrongSession},
        {"sequence_gap", Misbehaviour::SequenceGap},
        {"bad_header", Misbehaviour::BadHeader},
        {"close_mid_stream", Misbehaviour::CloseMidStream},
        {"silence", Misbehaviour::Silence},
        {"garbage", Misbehaviour::Garbage},
        {"unexpected_message", Misbehaviour::UnexpectedMessage},
    };
    return entries;
}

}  // namespace

Misbehaviour misbehaviour_from_name(const std::string& name) {
    if (name.empty()) {
        return Misbehaviour::None;
    }
    for (const auto& [entry_name, value] : table()) {
        if (entry_name == name) {
            return value;
        }
    }
    throw Error("unknown_misbehaviour");
}

const std::vector<std::string>& misbehaviour_names() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> list;
        for (const auto& entry : table()) {
            list.push_back(entry.first);
        }
        return list;
    }();
    return names;
}

}  // namespace kova::phone
