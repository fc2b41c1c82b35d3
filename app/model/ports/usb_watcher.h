#pragma once

#include <functional>

namespace kova {

/// Reports USB devices being attached or detached.
class UsbWatcher {
  public:
    virtual ~UsbWatcher() = default;
    /// Starts watching; `changed` runs on the main thread after each attach or detach.
    /// False when watching is impossible (no hot-plug detection then).
    virtual bool start(std::function<void()> changed) = 0;
};

}  // namespace kova
