#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "core/audio/wav_source.h"

namespace kova {

/// A WAV file or a generated signal, handed out one block at a time on the 48 kHz schedule.
class PacedSource {
  public:
    using Clock = std::chrono::steady_clock;

    /// Opens a WAV file (its checks throw) and writes "wavFrames".
    static PacedSource wav(const std::string& path, bool loop, nlohmann::json& report);
    /// A generated signal; an unknown name throws "unknown_signal" here.
    static PacedSource signal(const std::string& name);

    /// Sleeps until the block starting at `frames_sent` is due, records the lateness in
    /// "pacingMaxLateMs" and returns the block; empty when the WAV file has ended.
    std::vector<uint8_t> next_block(Clock::time_point stream_start, uint64_t frames_sent,
                                    Clock::time_point pass_start, nlohmann::json& report);

  private:
    PacedSource() = default;
    void wait_until_due(Clock::time_point due, Clock::time_point pass_start,
                        nlohmann::json& report) const;

    std::unique_ptr<WavSource> wav_;
    std::string signal_;
    bool loop_ = false;
};

}  // namespace kova
