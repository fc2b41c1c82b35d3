#include "tools/phone/gap_histogram.h"

#include <algorithm>

namespace kova::phone {

void GapHistogram::add(uint64_t gap_us) {
    const size_t bucket = std::min<uint64_t>(gap_us / kBucketUs, kBuckets - 1);
    ++buckets_[bucket];
    ++count_;
    max_us_ = std::max(max_us_, gap_us);
}

double GapHistogram::percentile_ms(double fraction) const {
    if (count_ == 0) {
        return 0.0;
    }
    // The same rank a sorted list of every gap would give.
    const auto rank = static_cast<uint64_t>(fraction * static_cast<double>(count_ - 1));
    uint64_t seen = 0;
    for (size_t bucket = 0; bucket + 1 < kBuckets; ++bucket) {
        seen += buckets_[bucket];
        if (seen > rank) {
            return static_cast<double>(bucket * kBucketUs) / 1000.0;
        }
    }
    return max_ms();
}

}  // namespace kova::phone
