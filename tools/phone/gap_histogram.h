#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kova::phone {

/// Percentiles of the time between audio messages in fixed memory, so that an
/// emulator running for hours in a measured process does not grow.
class GapHistogram {
  public:
    /// Counts one gap, in microseconds.
    void add(uint64_t gap_us);
    /// The gap below which `fraction` of the counted gaps lie, in milliseconds; 0 when none.
    double percentile_ms(double fraction) const;
    /// The longest gap counted, in milliseconds.
    double max_ms() const { return static_cast<double>(max_us_) / 1000.0; }
    /// How many gaps were counted.
    uint64_t count() const { return count_; }

  private:
    static constexpr uint64_t kBucketUs = 10;
    static constexpr std::size_t kBuckets =
        20000;  // up to 200 ms; longer gaps share the last bucket

    std::array<uint32_t, kBuckets> buckets_{};
    uint64_t count_ = 0;
    uint64_t max_us_ = 0;
};

}  // namespace kova::phone
