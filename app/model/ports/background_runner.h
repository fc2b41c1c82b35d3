#pragma once

#include <functional>

namespace kova {

/// Runs blocking work (the iPhone probe) away from the main thread.
class BackgroundRunner {
  public:
    virtual ~BackgroundRunner() = default;
    /// Runs `work` on some other thread; returns at once.
    virtual void run(std::function<void()> work) = 0;
};

}  // namespace kova
