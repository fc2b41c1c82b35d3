#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "tools/phone/gap_histogram.h"

namespace kova::phone {
namespace {

TEST(GapHistogram, AgreesWithASortedListToTheBucketAndKeepsTheExactLongest) {
    GapHistogram histogram;
    EXPECT_EQ(histogram.percentile_ms(0.5), 0.0);

    std::mt19937 random(7);
    std::normal_distribution<double> jitter(10000.0, 1500.0);
    std::vector<uint64_t> gaps;
    for (int i = 0; i < 50000; ++i) {
        gaps.push_back(static_cast<uint64_t>(std::max(0.0, jitter(random))));
    }
    gaps.push_back(750000);  // one stall far beyond the buckets
    for (const uint64_t gap : gaps) {
        histogram.add(gap);
    }
    std::sort(gaps.begin(), gaps.end());
    for (const double fraction : {0.0, 0.5, 0.99}) {
        const auto exact = static_cast<double>(
            gaps[static_cast<size_t>(fraction * static_cast<double>(gaps.size() - 1))]);
        EXPECT_NEAR(histogram.percentile_ms(fraction), exact / 1000.0, 0.0101) << fraction;
    }
    EXPECT_EQ(histogram.percentile_ms(1.0), 750.0);
    EXPECT_EQ(histogram.max_ms(), 750.0);
    EXPECT_EQ(histogram.count(), gaps.size());
}

}  // namespace
}  // namespace kova::phone
