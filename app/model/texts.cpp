#include <algorithm>

#include "app/model/connect_model.h"

namespace kova {

namespace {

const std::string sameAsConversion =
    "Cannot convert the sample rate: set KOVA to 48 kHz in your DAW or your sound settings.";
const std::string sameAsOpenDevice =
    "Another app is using the {device} over USB (Android File Transfer, adb): close it and try "
    "again.";

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

}  // namespace

const std::map<std::string, std::string>& ConnectModel::stateNames() {
    static const std::map<std::string, std::string> table{
        {"SwitchingToAccessory", "Connecting to the phone…"},
        {"Connecting", "Connecting to KOVA…"},
        {"Negotiating", "Waiting for KOVA on the phone…"},
        {"Ready", "Phone ready"},
        {"Streaming", "Playing on the phone"},
        {"Stopping", "Stopping…"},
    };
    return table;
}

const std::map<std::string, std::string>& ConnectModel::errorNames() {
    static const std::map<std::string, std::string> table{
        {"kova_device_not_found", "KOVA audio device not installed."},
        {"kova_device_start_failed", "Cannot start the KOVA audio device."},
        {"bulk_write_timeout_check_android_unlocked_and_usb_permission",
         "The phone does not answer: unlock it, open KOVA and allow USB access."},
        {"control_timeout_check_phone", "The phone did not answer: open KOVA on the phone."},
        {"selected_device_not_found", "Phone not found: reconnect it and refresh the list."},
        {"accessory_reenumeration_timeout",
         "The phone did not switch to KOVA mode: reconnect it and try again."},
        {"aoa_not_supported", "This device does not support KOVA: choose the Android phone."},
        {"link_timeout", "The phone stopped answering."},
        {"audio_focus_lost", "Another app took the phone's audio."},
        {"usb_detached", "Cable unplugged."},
        {"ios_device_not_found", "{device} not found: reconnect it, unlock it and tap Trust."},
        {"built_in_speaker_unavailable",
         "Headphones or another output are connected to the {device}: unplug them, KOVA plays "
         "on its speaker."},
        {"kova_device_ioproc_failed",
         "Cannot read the KOVA audio device: quit KOVA Connect and open it again."},
        {"kova_device_rate_unknown",
         "The KOVA audio device has no sample rate: set 48 kHz in your DAW or your sound "
         "settings."},
        {"src_unsupported_rate",
         "The KOVA audio device runs at an unsupported sample rate: set 48 kHz in your DAW or "
         "your sound settings."},
        {"src_create_failed", sameAsConversion},
        {"src_failed", sameAsConversion},
        {"aoa_refused_apple_device", "This is an iPhone or iPad: choose the entry marked (iOS)."},
        {"install_gate2_android_build",
         "KOVA on the {device} is too old: update it from Google Play."},
        {"usbmuxd_unavailable",
         "The computer cannot reach the {device} right now: reconnect it, or restart usbmuxd."},
        {"previous_session_still_active_reconnect_phone",
         "The {device} is still busy with an earlier session: unplug it and plug it in again."},
        {"open_selected_device", sameAsOpenDevice},
        {"open_selected_device: LIBUSB_ERROR_ACCESS",
         "KOVA Connect may not open the {device} over USB: install the udev rules from the "
         "README and plug it in again."},
        {"claim_accessory_interface", sameAsOpenDevice},
    };
    return table;
}

const std::set<std::string>& ConnectModel::permanentErrors() {
    static const std::set<std::string> codes{
        "kova_device_not_found",       "kova_device_ioproc_failed", "kova_device_start_failed",
        "kova_device_rate_unknown",    "aoa_not_supported",         "aoa_refused_apple_device",
        "install_gate2_android_build", "src_unsupported_rate",      "src_create_failed",
    };
    return codes;
}

const std::set<std::string>& ConnectModel::appNotOpen() {
    static const std::set<std::string> codes{
        "ios_app_not_listening",
        "control_timeout_check_phone",
        "ios_connection_closed",
        "link_timeout",
    };
    return codes;
}

std::string ConnectModel::message(const std::string& code, const std::optional<Device>& device) {
    const std::string base = code.substr(0, code.find(": "));
    const auto& table = errorNames();
    std::string text;
    if (const auto full = table.find(code); full != table.end()) {
        text = full->second;
    } else if (const auto short_ = table.find(base); short_ != table.end()) {
        text = short_->second;
    } else {
        text = "Something went wrong (" + code + "): unplug the {device} and connect it again.";
    }
    replaceAll(text, "{device}", device ? device->name : "phone");
    return text;
}

void ConnectModel::updateIdleText() {
    if (phase_ != Phase::idle) {
        return;
    }
    const bool anyCandidate = std::any_of(devices_.begin(), devices_.end(),
                                          [](const Device& entry) { return entry.isCandidate(); });
    std::string text;
    if (!kovaDevicePresent_) {
        text = "KOVA device missing";
    } else if (userStopped_) {
        text = "Stopped · restarts when you reconnect the phone";
    } else if (autoStart_ && !anyCandidate) {
        text = "Waiting for a phone with KOVA";
    } else {
        text = "Stopped";
    }
    publish(stateText_, std::move(text), Property::stateText);
}

}  // namespace kova
