#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace kova {

/// The application's main thread as a work queue; everything the model does runs on it.
class MainQueue {
  public:
    /// Identifies a deferred action so that it can be cancelled.
    using Deferred = std::uint64_t;
    virtual ~MainQueue() = default;
    /// Runs `work` on the main thread soon; callable from any thread.
    virtual void post(std::function<void()> work) = 0;
    /// Runs `work` on the main thread after `delay`; main thread only.
    virtual Deferred postAfter(std::chrono::milliseconds delay, std::function<void()> work) = 0;
    /// Drops a deferred action that has not run yet; unknown or finished ones are ignored.
    virtual void cancel(Deferred deferred) = 0;
};

}  // namespace kova
