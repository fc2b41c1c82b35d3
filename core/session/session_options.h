#pragma once

#include <cstdint>
#include <string>

namespace kova {

class Transport;

/// UID of the KOVA audio device that capture sessions record.
inline constexpr const char* kKovaDeviceUid = "com.brenvale.kova.device";

/// Everything one session is asked to do; copied whole into the session's worker.
struct SessionOptions {
    std::string device;                  ///< "ios:<12 hex>" or an Android USB path
    std::string accessory_id;            ///< accessory identity for the Android link
    std::string wav;                     ///< WAV file to stream
    std::string signal;                  ///< generated test signal to stream
    std::string capture_uid;             ///< output device to capture
    int32_t seconds = 0;                 ///< streaming length; 0 = until stopped or source ends
    int32_t hello_timeout_ms = 60000;    ///< time allowed for the phone's hello
    bool loop = false;                   ///< restart the WAV file at its end
    Transport* transport = nullptr;      ///< an already connected link (not owned), for embedders

    /// True when a WAV file, a signal or the capture device is named.
    bool has_audio() const { return !wav.empty() || !signal.empty() || !capture_uid.empty(); }
    /// True for "ios:" devices and for a caller-supplied link.
    bool treated_as_ios() const { return device.rfind("ios:", 0) == 0 || transport != nullptr; }
};

/// Throws kova::Error with the first failing rule's code; nothing is opened before this.
void validate_options(const SessionOptions& options);

}  // namespace kova
