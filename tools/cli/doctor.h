#pragma once

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace kova::cli {

/// How one check came out. Only `missing` stands in the way of streaming.
enum class Verdict { ok, warning, missing };

/// One line of the doctor's report.
struct DoctorCheck {
    std::string check;  ///< stable key: "sound_server", "kova_device", ...
    std::string title;  ///< what was checked, for people
    Verdict verdict = Verdict::ok;
    std::string detail;  ///< what was found
    std::string fix;     ///< the command or step that fixes it; empty when nothing to do
};

/// An attached phone as far as the doctor can tell.
struct PhoneFacts {
    std::string path;      ///< as `kova --list` shows it
    std::string platform;  ///< "android" or "ios"
    std::string name;
    bool accessory = false;             ///< Android phone already in accessory mode
    std::string node;                   ///< USB device node (Android)
    std::optional<bool> may_open;       ///< whether this user may open `node`
    std::optional<bool> trusted;        ///< iOS: paired with this computer
    std::optional<bool> app_listening;  ///< iOS: the phone app answers on its port
};

/// Everything the checks look at, read from the system beforehand.
struct DoctorFacts {
    bool server_reachable = false;
    std::string server_name;  ///< e.g. "pulseaudio", "PulseAudio (on PipeWire 0.3.65)"
    std::string server_version;
    std::string pulse_server;  ///< PULSE_SERVER when set
    bool sink_present = false;
    unsigned sink_rate = 0;
    std::optional<float> sink_peak;  ///< peak level over the window, 0..1; none when unreadable
    std::string usbmuxd_address;
    bool usbmuxd_reachable = false;
    std::string udev_rules;  ///< where the rules were found; empty when not installed
    std::vector<PhoneFacts> phones;
    bool realtime_allowed = false;
};

/// The checks, in the order they are shown.
std::vector<DoctorCheck> diagnose(const DoctorFacts& facts);

/// 0 when nothing needed for streaming is missing, 1 otherwise.
int doctor_exit_status(const std::vector<DoctorCheck>& checks);

/// "ok", "warning" or "missing".
const char* verdict_name(Verdict verdict);

/// One line per check, the fix indented under it.
std::string doctor_text(const std::vector<DoctorCheck>& checks);

/// The same as one document: {"ok": ..., "checks": [...]}.
nlohmann::json doctor_json(const std::vector<DoctorCheck>& checks);

}  // namespace kova::cli
