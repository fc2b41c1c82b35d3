#pragma once

#include <functional>

namespace kova {

/// Whether the application may capture audio.
class Microphone {
  public:
    /// The platform's answer about audio capture.
    enum class Status { authorized, notDetermined, denied, restricted };
    virtual ~Microphone() = default;
    /// The current permission status.
    virtual Status status() = 0;
    /// Asks the user; `answer(granted)` may be called later on any thread.
    virtual void request(std::function<void(bool granted)> answer) = 0;
};

}  // namespace kova
