#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace kova::test {

/// A PulseAudio server of the test's own, on a socket in a private folder; PULSE_SERVER points
/// at it while it lives.
class PrivatePulse {
  public:
    /// Starts the server and waits (bounded) for its socket.
    PrivatePulse();
    /// Stops the server and removes its folder.
    ~PrivatePulse();
    PrivatePulse(const PrivatePulse&) = delete;
    PrivatePulse& operator=(const PrivatePulse&) = delete;
    /// True when the server answers.
    bool running() const { return running_; }
    /// Runs pactl against the server; true when it succeeded.
    bool pactl(const std::vector<std::string>& arguments) const;

  private:
    std::filesystem::path root_;
    std::string server_;
    pid_t pid_ = -1;
    bool running_ = false;
};

}  // namespace kova::test
