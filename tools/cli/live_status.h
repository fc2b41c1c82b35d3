#pragma once

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>

namespace kova::cli {

/// What the session has told so far, gathered from its event documents.
class LiveStatus {
  public:
    /// Applies one event document.
    void apply(const nlohmann::json& event, std::chrono::steady_clock::time_point now);
    /// One line: state, elapsed time, frames sent, phone buffer, underruns, input level.
    std::string line(std::chrono::steady_clock::time_point now) const;
    /// The latest state name ("" before the first).
    const std::string& state() const { return state_; }

  private:
    std::string state_;
    bool streaming_ = false;
    std::chrono::steady_clock::time_point streaming_since_{};
    uint64_t frames_sent_ = 0;
    double buffer_ms_ = -1.0;
    long long underruns_ = -1;
    double peak_ = -1.0;
};

/// A short human summary of a final report and exit code.
std::string summary_text(int code, const nlohmann::json& report);

/// A peak level as text: "silence" or "-6.0 dBFS".
std::string level_text(double peak);

}  // namespace kova::cli
