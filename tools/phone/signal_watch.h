#pragma once

#include <optional>

namespace kova::phone {

/// SIGINT and SIGTERM (end), SIGUSR1 (the phone app closes) and SIGUSR2 (it opens again) as a
/// readable descriptor, so that waits can include them. Create it before any thread starts: it
/// blocks the signals in the calling thread, which threads started later inherit.
class SignalWatch {
  public:
    /// Blocks the four signals and opens the descriptor; throws kova::Error("signalfd").
    SignalWatch();
    /// Closes the descriptor (the signals stay blocked).
    ~SignalWatch();
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

    /// Readable when a signal is pending.
    int fd() const { return fd_; }
    /// True once SIGINT or SIGTERM has arrived; waits up to `timeout_ms` for a signal.
    bool wait(int timeout_ms);
    /// Whether the app should be open (SIGUSR2) or closed (SIGUSR1), from the latest of them
    /// that wait() read since the last call; none when neither came.
    std::optional<bool> take_app_switch();

  private:
    int fd_ = -1;
    bool received_ = false;
    std::optional<bool> app_switch_;
};

}  // namespace kova::phone
