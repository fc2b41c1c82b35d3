#include "core/audio/pcm16.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace kova {
namespace {

TEST(Pcm16Test, LimitsScalesAndRoundsTiesToEven) {
    EXPECT_EQ(float_to_pcm16(1.5f), 32767);
    EXPECT_EQ(float_to_pcm16(-1.5f), -32767);
    EXPECT_EQ(float_to_pcm16(1.0f), 32767);
    EXPECT_EQ(float_to_pcm16(0.5f), 16384);  // 16383.5: the even neighbour
    EXPECT_EQ(float_to_pcm16(-0.5f), -16384);
    EXPECT_EQ(float_to_pcm16(0.25f), 8192);  // 8191.75
    EXPECT_EQ(float_to_pcm16(0.0f), 0);
    EXPECT_EQ(float_to_pcm16(std::numeric_limits<float>::infinity()), 32767);
    EXPECT_EQ(float_to_pcm16(-std::numeric_limits<float>::infinity()), -32767);
}

TEST(Pcm16Test, NanBecomesSilenceNotFullScale) {
    EXPECT_EQ(float_to_pcm16(std::nanf("")), 0);
    EXPECT_EQ(float_to_pcm16(-std::nanf("")), 0);
}

TEST(Pcm16Test, BytesAreLittleEndianInOrder) {
    const std::vector<float> samples = {1.0f, -1.0f, std::nanf("")};
    const std::vector<uint8_t> expected = {0xFF, 0x7F, 0x01, 0x80, 0x00, 0x00};
    EXPECT_EQ(pcm16_bytes(samples.data(), samples.size()), expected);
}

}  // namespace
}  // namespace kova
