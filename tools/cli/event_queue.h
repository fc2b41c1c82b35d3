#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>

namespace kova::cli {

/// Hands event texts from the library's worker thread to the main thread.
class EventQueue {
  public:
    /// Appends a copy of `text`; callable from any thread.
    void push(const char* text);
    /// Takes the oldest text into `text`; false when none arrived within `timeout`.
    bool pop(std::string& text, std::chrono::milliseconds timeout);

  private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<std::string> texts_;
};

}  // namespace kova::cli
