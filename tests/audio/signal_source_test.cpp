#include "core/audio/signal_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/transport/error.h"

namespace kova {
namespace {

struct Frame {
    int16_t left;
    int16_t right;
};

std::vector<Frame> frames_of(const std::string& name, uint64_t first_frame) {
    const std::vector<uint8_t> block = signal_block(name, first_frame);
    EXPECT_EQ(block.size(), 768u);
    std::vector<Frame> frames;
    for (size_t i = 0; i + 3 < block.size(); i += 4) {
        frames.push_back({static_cast<int16_t>(block[i] | (block[i + 1] << 8)),
                          static_cast<int16_t>(block[i + 2] | (block[i + 3] << 8))});
    }
    return frames;
}

TEST(SignalBlockTest, SineStartsAtZeroAndFollowsBothTones) {
    const auto frames = frames_of("sine", 0);
    EXPECT_EQ(frames[0].left, 0);
    EXPECT_EQ(frames[0].right, 0);
    EXPECT_EQ(frames[1].left, 119);
    EXPECT_EQ(frames[1].right, 238);
    EXPECT_EQ(frames[3].left, 355);
    EXPECT_EQ(frames[3].right, 700);
    EXPECT_EQ(frames[100].left, -1034);
    EXPECT_EQ(frames[100].right, -1790);
}

TEST(SignalBlockTest, SinePeaksAtMinus24DecibelsFullScale) {
    int peak = 0;
    for (uint64_t first = 0; first < 48000; first += 192) {
        for (const Frame& frame : frames_of("sine", first)) {
            peak = std::max({peak, std::abs(frame.left), std::abs(frame.right)});
        }
    }
    EXPECT_EQ(peak, 2067);
}

TEST(SignalBlockTest, ConsecutiveBlocksContinueTheSignal) {
    // Frame 47999 is one frame before a whole second: the mirror image of frame 1.
    const auto frames = frames_of("sine", 47808);
    EXPECT_EQ(frames[191].left, -119);
    EXPECT_EQ(frames[191].right, -238);
    EXPECT_EQ(frames_of("sine", 48000)[1].left, 119);
}

TEST(SignalBlockTest, SilenceIsAllZero) {
    const std::vector<uint8_t> block = signal_block("silence", 12345);
    EXPECT_EQ(std::count(block.begin(), block.end(), 0), 768);
}

TEST(SignalBlockTest, ImpulseOnceASecondInBothChannels) {
    const auto frames = frames_of("impulse", 47904);
    for (size_t i = 0; i < frames.size(); ++i) {
        const int16_t expected = i == 96 ? 2067 : 0;
        EXPECT_EQ(frames[i].left, expected) << i;
        EXPECT_EQ(frames[i].right, expected) << i;
    }
    EXPECT_EQ(frames_of("impulse", 0)[0].left, 2067);
}

TEST(SignalBlockTest, LrAlternatesSidesEverySecond) {
    const auto even = frames_of("lr", 0);
    const auto odd = frames_of("lr", 48000);
    const auto two = frames_of("lr", 96000);
    for (size_t i = 0; i < 192; ++i) {
        EXPECT_EQ(even[i].right, 0) << i;
        EXPECT_EQ(odd[i].left, 0) << i;
        EXPECT_EQ(two[i].right, 0) << i;
    }
    EXPECT_EQ(even[1].left, 119);
    EXPECT_EQ(odd[1].right, 238);
}

TEST(SignalBlockTest, SweepIsMonoAndRestartsEveryTenSeconds) {
    const auto start = frames_of("sweep", 0);
    EXPECT_EQ(start[0].left, 0);
    EXPECT_EQ(start[1].left, 5);
    EXPECT_EQ(frames_of("sweep", 240000)[0].left, -1417);
    for (const Frame& frame : frames_of("sweep", 96000)) {
        EXPECT_EQ(frame.left, frame.right);
    }
    EXPECT_EQ(signal_block("sweep", 480000), signal_block("sweep", 0));
}

TEST(SignalBlockTest, UnknownNamesAreRefused) {
    for (const std::string name : {"noise", "", "SINE", "Sine", "sine ", "square"}) {
        try {
            (void)signal_block(name, 0);
            ADD_FAILURE() << "accepted '" << name << "'";
        } catch (const Error& failure) {
            EXPECT_STREQ(failure.what(), "unknown_signal") << name;
        }
    }
}

}  // namespace
}  // namespace kova
