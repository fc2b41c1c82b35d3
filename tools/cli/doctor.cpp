#include "tools/cli/doctor.h"

#include <cmath>
#include <cstdio>
#include <sstream>

#include "tools/cli/kova_sink.h"

namespace kova::cli {
namespace {

constexpr const char* kStartServer =
    "start the desktop's sound server: `systemctl --user start pipewire pipewire-pulse "
    "wireplumber` (PipeWire) or `pulseaudio --start` (PulseAudio)";
constexpr const char* kInstallRules =
    "install the kova-connect package, which holds them, or from the source tree: sudo install "
    "-m 644 udev/70-kova-connect.rules /etc/udev/rules.d/ && sudo udevadm control --reload && "
    "sudo udevadm trigger";
constexpr const char* kReplug =
    "unplug and replug the phone; the rules give access to the active local session only "
    "(loginctl shows it)";
// Audio quieter than this is taken for silence: a dithered idle output is not a mix.
constexpr float kSilence = 1e-4f;

std::string server_detail(const DoctorFacts& facts) {
    std::string detail = facts.server_name;
    if (!facts.server_version.empty()) {
        detail += " " + facts.server_version;
    }
    if (!facts.pulse_server.empty()) {
        detail += " at " + facts.pulse_server;
    }
    return detail;
}

DoctorCheck server_check(const DoctorFacts& facts) {
    DoctorCheck check{"sound_server", "Sound server", Verdict::ok, "", ""};
    if (facts.server_reachable) {
        check.detail = server_detail(facts);
        return check;
    }
    check.verdict = Verdict::missing;
    check.detail = "no PulseAudio or PipeWire server answers";
    check.fix = kStartServer;
    if (!facts.pulse_server.empty()) {
        check.detail += " at PULSE_SERVER=" + facts.pulse_server;
        check.fix = "start that server, or unset PULSE_SERVER to use the desktop's own";
    }
    return check;
}

DoctorCheck device_check(const DoctorFacts& facts) {
    DoctorCheck check{"kova_device", "KOVA device", Verdict::ok, "", ""};
    if (!facts.server_reachable) {
        check.verdict = Verdict::missing;
        check.detail = "cannot be looked for without a sound server";
        check.fix = "once the server runs: kova --install-device";
    } else if (!facts.sink_present) {
        check.verdict = Verdict::missing;
        check.detail = "no sink named com.brenvale.kova.device";
        check.fix = "kova --install-device (for good: the README's KOVA-device section)";
    } else if (facts.sink_rate == kDefaultSinkRate) {
        check.detail = "present at 48000 Hz, no conversion needed";
    } else {
        check.detail = "present at " + std::to_string(facts.sink_rate) +
                       " Hz, converted to 48000 Hz (a 48000 Hz device needs no conversion)";
    }
    return check;
}

std::string decibels(float peak) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f dBFS", 20.0 * std::log10(static_cast<double>(peak)));
    return text;
}

DoctorCheck level_check(const DoctorFacts& facts) {
    DoctorCheck check{"kova_level", "Playing into KOVA", Verdict::ok, "", ""};
    if (!facts.sink_peak) {
        check.verdict = Verdict::warning;
        check.detail = "its level could not be read";
        return check;
    }
    if (*facts.sink_peak < kSilence) {
        check.verdict = Verdict::warning;
        check.detail = "silence over the last second";
        check.fix =
            "choose KOVA as the output of the DAW or the desktop, e.g. "
            "`pactl set-default-sink com.brenvale.kova.device`, and press play";
        return check;
    }
    check.detail = "sound over the last second, peak " + decibels(*facts.sink_peak);
    return check;
}

DoctorCheck usbmuxd_check(const DoctorFacts& facts) {
    DoctorCheck check{"usbmuxd", "usbmuxd (iPhones and iPads)", Verdict::ok, "", ""};
    if (facts.usbmuxd_reachable) {
        check.detail = "running at " + facts.usbmuxd_address;
        return check;
    }
    check.verdict = Verdict::warning;
    check.detail = "not answering at " + facts.usbmuxd_address;
    check.fix =
        "sudo apt-get install usbmuxd (it starts when an iPhone or iPad is plugged in; "
        "by hand: sudo systemctl start usbmuxd)";
    return check;
}

DoctorCheck rules_check(const DoctorFacts& facts) {
    DoctorCheck check{"udev_rules", "udev rules (Android phones)", Verdict::ok, "", ""};
    if (!facts.udev_rules.empty()) {
        check.detail = "installed: " + facts.udev_rules;
        return check;
    }
    check.verdict = Verdict::warning;
    check.detail = "70-kova-connect.rules not installed";
    check.fix = kInstallRules;
    return check;
}

// What stands between this phone and a stream; an empty fix means nothing.
DoctorCheck phone_check(const PhoneFacts& phone, bool rules_installed) {
    DoctorCheck check{"phone", "Phone " + phone.name + " (" + phone.path + ")", Verdict::ok, "",
                      ""};
    if (phone.platform == "ios") {
        if (!phone.trusted.value_or(false)) {
            check.detail = "not paired with this computer";
            check.fix = "unlock the iPhone and tap Trust";
        } else if (!phone.app_listening.value_or(false)) {
            check.detail = "paired, but the KOVA app does not answer";
            check.fix = "open the KOVA app on the iPhone";
        } else {
            check.detail = "paired, the KOVA app answers: ready";
        }
    } else if (!phone.may_open.value_or(false)) {
        check.detail = "this user may not open its USB device node " + phone.node;
        check.fix = rules_installed ? kReplug : std::string(kInstallRules) + ", then " + kReplug;
    } else if (phone.accessory) {
        check.detail = "in accessory mode: ready";
    } else {
        check.detail =
            "switched into accessory mode when streaming starts; the KOVA app must be "
            "installed on it";
    }
    if (!check.fix.empty()) {
        check.verdict = Verdict::missing;
    }
    return check;
}

void add_phone_checks(const DoctorFacts& facts, std::vector<DoctorCheck>& checks) {
    if (facts.phones.empty()) {
        checks.push_back({"phone", "Phones", Verdict::missing, "none attached",
                          "connect the phone by USB cable and unlock it"});
        return;
    }
    std::vector<DoctorCheck> phones;
    bool one_ready = false;
    for (const PhoneFacts& phone : facts.phones) {
        phones.push_back(phone_check(phone, !facts.udev_rules.empty()));
        one_ready = one_ready || phones.back().verdict == Verdict::ok;
    }
    // One phone that can stream is enough; the others only need attention.
    for (DoctorCheck& phone : phones) {
        if (one_ready && phone.verdict == Verdict::missing) {
            phone.verdict = Verdict::warning;
        }
        checks.push_back(std::move(phone));
    }
}

DoctorCheck realtime_check(const DoctorFacts& facts) {
    DoctorCheck check{"realtime", "Realtime scheduling", Verdict::ok, "allowed", ""};
    if (!facts.realtime_allowed) {
        check.verdict = Verdict::warning;
        check.detail = "not allowed to this user: audio may drop out on a busy machine";
        check.fix =
            "echo '@audio - rtprio 95' | sudo tee /etc/security/limits.d/95-kova.conf && "
            "sudo usermod -aG audio $USER, then log in again";
    }
    return check;
}

}  // namespace

std::vector<DoctorCheck> diagnose(const DoctorFacts& facts) {
    std::vector<DoctorCheck> checks{server_check(facts), device_check(facts)};
    if (facts.server_reachable && facts.sink_present) {
        checks.push_back(level_check(facts));
    }
    checks.push_back(usbmuxd_check(facts));
    checks.push_back(rules_check(facts));
    add_phone_checks(facts, checks);
    checks.push_back(realtime_check(facts));
    return checks;
}

int doctor_exit_status(const std::vector<DoctorCheck>& checks) {
    for (const DoctorCheck& check : checks) {
        if (check.verdict == Verdict::missing) {
            return 1;
        }
    }
    return 0;
}

const char* verdict_name(Verdict verdict) {
    switch (verdict) {
        case Verdict::ok:
            return "ok";
        case Verdict::warning:
            return "warning";
        case Verdict::missing:
            return "missing";
    }
    return "missing";
}

std::string doctor_text(const std::vector<DoctorCheck>& checks) {
    std::ostringstream text;
    for (const DoctorCheck& check : checks) {
        std::string verdict = verdict_name(check.verdict);
        verdict.resize(9, ' ');
        text << verdict << check.title << ": " << check.detail << "\n";
        if (!check.fix.empty()) {
            text << "         fix: " << check.fix << "\n";
        }
    }
    text << (doctor_exit_status(checks) == 0 ? "Nothing needed for streaming is missing.\n"
                                             : "Something needed for streaming is missing.\n");
    return text.str();
}

nlohmann::json doctor_json(const std::vector<DoctorCheck>& checks) {
    nlohmann::json list = nlohmann::json::array();
    for (const DoctorCheck& check : checks) {
        nlohmann::json entry{{"check", check.check},
                             {"title", check.title},
                             {"verdict", verdict_name(check.verdict)},
                             {"detail", check.detail}};
        if (!check.fix.empty()) {
            entry["fix"] = check.fix;
        }
        list.push_back(std::move(entry));
    }
    return {{"ok", doctor_exit_status(checks) == 0}, {"checks", list}};
}

}  // namespace kova::cli
