#pragma once

#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "bench/support/impulse.h"

namespace kova::bench {

/// What the phone side counted over the soak's session.
struct PhoneFigures {
    bool summarised = false;                ///< the emulator gave its end-of-session summary
    uint64_t frames_received = 0;           ///< audio frames received
    uint64_t gaps = 0;                      ///< discontinuities of frame indexes
    uint64_t underruns = 0;                 ///< playout buffer underruns
    std::vector<Clock::time_point> clicks;  ///< when each message holding an impulse arrived
};

/// The emulated phone the soak streams to, whichever way it is attached.
class SoakPhone {
  public:
    virtual ~SoakPhone() = default;
    /// Attaches the phone; false (with `error` set) when it cannot be.
    virtual bool start(std::string& error) = 0;
    /// The session options that reach this phone ("device" and what else it needs).
    virtual nlohmann::json target() const = 0;
    /// Ends the phone's side once the session has ended and returns what it counted.
    virtual PhoneFigures finish() = 0;
};

/// kova-phone as an iPhone behind a private usbmux socket (USBMUXD_SOCKET_ADDRESS).
std::unique_ptr<SoakPhone> make_usbmux_iphone();
/// The phone emulator in this process, as an Android phone on the fake USB bus.
std::unique_ptr<SoakPhone> make_fake_bus_android();

}  // namespace kova::bench
