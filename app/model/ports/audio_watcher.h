#pragma once

#include <functional>

namespace kova {

/// Reports changes of the system's list of audio output devices.
class AudioWatcher {
  public:
    virtual ~AudioWatcher() = default;
    /// Starts watching; `changed` runs on the main thread after each change.
    /// False when the registration failed.
    virtual bool start(std::function<void()> changed) = 0;
};

}  // namespace kova
