#pragma once

#include <string>
#include <vector>

namespace kova::phone {

/// One way the emulated phone app departs from the protocol, chosen by name.
enum class Misbehaviour {
    None,
    WrongRole,
    ProtocolMinorFloat,
    ProtocolMinorString,
    MissingPingCapability,
    NoPcmCapability,
    NoHello,
    StatusBeforeHello,
    DuplicateHello,
    ConfigRefused,
    ConfigRefusedNoReason,
    ConfigAcceptedNotBoolean,
    NoConfigAck,
    WrongRoute,
    ErrorMessage,
    NoPongs,
    WrongPongToken,
    NoStopped,
    StaleBytes,
    WrongSession,
    SequenceGap,
    BadHeader,
    CloseMidStream,
    Silence,
    Garbage,
    UnexpectedMessage,
};

/// The misbehaviour called `name` ("" is None); throws kova::Error("unknown_misbehaviour").
Misbehaviour misbehaviour_from_name(const std::string& name);

/// Every accepted name, in a stable order, without "".
const std::vector<std::string>& misbehaviour_names();

}  // namespace kova::phone
