#pragma once

namespace kova::phone {

/// SIGINT and SIGTERM as a readable descriptor, so that waits can include them. Create it
/// before any thread starts: it blocks both signals in the calling thread, which threads
/// started later inherit.
class SignalWatch {
  public:
    /// Blocks SIGINT and SIGTERM and opens the descriptor; throws kova::Error("signalfd").
    SignalWatch();
    /// Closes the descriptor (the signals stay blocked).
    ~SignalWatch();
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

    /// Readable when a signal is pending.
    int fd() const { return fd_; }
    /// True once a signal has arrived; waits up to `timeout_ms` for one.
    bool wait(int timeout_ms);

  private:
    int fd_ = -1;
    bool received_ = false;
};

}  // namespace kova::phone
