#include "core/audio/sample_ring.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "core/audio/peak_meter.h"

namespace kova {
namespace {

// Frame f carries the values (f, -f) so that any frame read back shows where it came from.
std::vector<float> numbered_frames(uint64_t first, size_t count) {
    std::vector<float> samples(2 * count);
    for (size_t i = 0; i < count; ++i) {
        samples[2 * i] = static_cast<float>(first + i);
        samples[2 * i + 1] = -static_cast<float>(first + i);
    }
    return samples;
}

class SampleRingTest : public ::testing::Test {
  protected:
    std::unique_ptr<SampleRing> ring = std::make_unique<SampleRing>();
};

TEST_F(SampleRingTest, EmptyRingReadsNothingAndLeavesTheDestinationAlone) {
    std::vector<float> out(8, 7.0f);
    EXPECT_EQ(ring->read(out.data(), 4), 0u);
    EXPECT_EQ(out, std::vector<float>(8, 7.0f));
}

TEST_F(SampleRingTest, ReadReturnsOnlyWhatIsBuffered) {
    const auto frames = numbered_frames(0, 10);
    ASSERT_EQ(ring->write(frames.data(), 10), 10u);
    std::vector<float> out(200, 0.0f);
    EXPECT_EQ(ring->read(out.data(), 100), 10u);
    EXPECT_EQ(std::vector<float>(out.begin(), out.begin() + 20), frames);
    EXPECT_EQ(ring->available(), 0u);
}

TEST_F(SampleRingTest, DiscardNeverDropsMoreThanIsBuffered) {
    const auto frames = numbered_frames(0, 40);
    ring->write(frames.data(), 40);
    ring->discard(100);
    EXPECT_EQ(ring->available(), 0u);
    EXPECT_EQ(ring->read_count(), 40u);
}

TEST_F(SampleRingTest, FullRingKeepsBufferedFramesAndDropsTheNewest) {
    const auto first = numbered_frames(0, SampleRing::kFrames - 100);
    EXPECT_EQ(ring->write(first.data(), SampleRing::kFrames - 100), SampleRing::kFrames - 100);
    const auto second = numbered_frames(SampleRing::kFrames - 100, 300);
    EXPECT_EQ(ring->write(second.data(), 300), 100u);
    EXPECT_EQ(ring->available(), SampleRing::kFrames);

    std::vector<float> out(2 * SampleRing::kFrames);
    ASSERT_EQ(ring->read(out.data(), SampleRing::kFrames), SampleRing::kFrames);
    EXPECT_EQ(out, numbered_frames(0, SampleRing::kFrames));
}

TEST_F(SampleRingTest, PositionsWrapAroundTheStorage) {
    std::vector<float> out(2 * 1000);
    for (uint64_t first = 0; first < 40000; first += 1000) {
        const auto frames = numbered_frames(first, 1000);
        ASSERT_EQ(ring->write(frames.data(), 1000), 1000u);
        ASSERT_EQ(ring->read(out.data(), 1000), 1000u);
        ASSERT_EQ(out, frames);
    }
    const auto frame = numbered_frames(40000, 1);
    ring->write(frame.data(), 1);
    EXPECT_EQ(ring->storage()[14464], 40000.0f);
    EXPECT_EQ(ring->storage()[14465], -40000.0f);
}

// A real producer thread against the consumer: every frame arrives once, in order, intact,
// or is counted as dropped; ThreadSanitizer watches the counters' ordering.
TEST(SampleRingThreads, ProducerAndConsumerAgreeOnEveryFrame) {
    SampleRing ring;
    PeakMeter peak;
    constexpr uint64_t kTotal = 192 * 2000;
    constexpr size_t kBlock = 192;
    std::atomic<uint64_t> dropped{0};
    std::atomic<bool> done{false};
    std::thread producer([&] {
        for (uint64_t first = 0; first < kTotal; first += kBlock) {
            const auto frames = numbered_frames(first, kBlock);
            const size_t kept = ring.write(frames.data(), kBlock);
            dropped.fetch_add(kBlock - kept, std::memory_order_relaxed);
            peak.raise(frames.data(), 2 * kept);
        }
        done.store(true, std::memory_order_release);
    });
    std::vector<float> out(2 * 500);
    uint64_t received = 0;
    float last = -1.0f;
    float largest_peak = 0.0f;
    bool ordered = true;
    while (!done.load(std::memory_order_acquire) || ring.available() > 0) {
        const size_t count = ring.read(out.data(), 500);
        for (size_t i = 0; i < count; ++i) {
            ordered = ordered && out[2 * i] > last && out[2 * i + 1] == -out[2 * i];
            last = out[2 * i];
        }
        received += count;
        largest_peak = std::max(largest_peak, peak.take());
    }
    producer.join();
    largest_peak = std::max(largest_peak, peak.take());
    EXPECT_TRUE(ordered);
    EXPECT_EQ(received + dropped.load(), kTotal);
    EXPECT_EQ(largest_peak, last);
}

TEST(PeakMeter, TakesTheLargestMagnitudeOnceThenZero) {
    PeakMeter peak;
    const std::vector<float> block = {-0.5f, 0.3f, 0.1f, -0.2f, 0.0f, 0.25f};
    peak.raise(block.data(), block.size());
    EXPECT_EQ(peak.take(), 0.5f);
    EXPECT_EQ(peak.take(), 0.0f);
}

TEST(PeakMeter, AQuieterBlockDoesNotLowerThePeak) {
    PeakMeter peak;
    peak.raise_to(0.8f);
    peak.raise_to(0.2f);
    EXPECT_EQ(peak.take(), 0.8f);
}

TEST(PeakMeter, ConcurrentRaisesAndTakesLoseNoMaximum) {
    PeakMeter peak;
    std::atomic<bool> done{false};
    std::thread raiser([&] {
        for (int i = 1; i <= 100000; ++i) {
            peak.raise_to(static_cast<float>(i) / 100000.0f);
        }
        done.store(true, std::memory_order_release);
    });
    float seen = 0.0f;
    while (!done.load(std::memory_order_acquire)) {
        seen = std::max(seen, peak.take());
    }
    raiser.join();
    seen = std::max(seen, peak.take());
    EXPECT_EQ(seen, 1.0f);
}

}  // namespace
}  // namespace kova
