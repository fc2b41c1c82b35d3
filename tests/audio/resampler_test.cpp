#include "core/audio/resampler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "core/transport/error.h"

namespace kova {
namespace {

std::string failure_of(double rate) {
    try {
        Resampler resampler(rate);
    } catch (const Error& error) {
        return error.what();
    }
    return "";
}

// Feeds a sine of `hz` at `rate` in pulls of whatever size the converter asks for, with an
// empty pull every `starve_every` calls, as a live capture that runs dry now and then.
struct SineSource {
    double hz;
    double rate;
    size_t limit;
    size_t starve_every = 0;
    size_t next = 0;
    size_t calls = 0;

    size_t pull(float* out, size_t frames) {
        ++calls;
        if (starve_every != 0 && calls % starve_every == 0) {
            return 0;
        }
        const size_t count = std::min(frames, limit - next);
        for (size_t i = 0; i < count; ++i) {
            const double t = static_cast<double>(next + i) / rate;
            out[2 * i] = out[2 * i + 1] = static_cast<float>(0.5 * std::sin(2 * M_PI * hz * t));
        }
        next += count;
        return count;
    }
};

std::vector<float> convert_all(Resampler& resampler, SineSource& source) {
    std::vector<float> output;
    std::vector<float> block(2 * 192);
    const Resampler::Pull pull = [&](float* out, size_t n) { return source.pull(out, n); };
    for (int idle = 0; idle < 3;) {
        const size_t made = resampler.process(pull, block.data(), 192);
        output.insert(output.end(), block.begin(), block.begin() + 2 * made);
        const bool exhausted = source.next == source.limit;
        idle = made == 0 && exhausted ? idle + 1 : 0;
    }
    return output;
}

// Rising zero crossings of the left channel per second at 48000 Hz, skipping the edges.
double measured_frequency(const std::vector<float>& samples) {
    const size_t frames = samples.size() / 2;
    const size_t begin = frames / 10;
    const size_t end = frames - frames / 10;
    size_t first = 0;
    size_t last = 0;
    size_t crossings = 0;
    for (size_t i = begin + 1; i < end; ++i) {
        if (samples[2 * (i - 1)] < 0.0f && samples[2 * i] >= 0.0f) {
            first = crossings == 0 ? i : first;
            last = i;
            ++crossings;
        }
    }
    return crossings < 2 ? 0.0 : (crossings - 1) * 48000.0 / static_cast<double>(last - first);
}

TEST(Resampler, AcceptsExactlyTheSupportedRates) {
    EXPECT_EQ(failure_of(7999.0), "src_unsupported_rate");
    EXPECT_EQ(failure_of(384001.0), "src_unsupported_rate");
    EXPECT_EQ(failure_of(std::numeric_limits<double>::quiet_NaN()), "src_unsupported_rate");
    EXPECT_EQ(failure_of(8000.0), "");
    EXPECT_EQ(failure_of(384000.0), "");
}

TEST(Resampler, PassesThroughAt48000WithOnePullPerCall) {
    Resampler resampler(48000.0);
    EXPECT_FALSE(resampler.converting());
    int calls = 0;
    const Resampler::Pull pull = [&](float* out, size_t frames) {
        ++calls;
        out[0] = 0.25f;
        return frames - 5;
    };
    std::vector<float> out(2 * 192, 0.0f);
    EXPECT_EQ(resampler.process(pull, out.data(), 192), 187u);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(out[0], 0.25f);
}

TEST(Resampler, AnEmptyPullProducesNothingWithoutError) {
    Resampler resampler(44100.0);
    EXPECT_TRUE(resampler.converting());
    const Resampler::Pull pull = [](float*, size_t) { return size_t{0}; };
    std::vector<float> out(2 * 192);
    EXPECT_EQ(resampler.process(pull, out.data(), 192), 0u);
}

TEST(Resampler, OneSecondAt44100BecomesOneSecondAt48000) {
    Resampler resampler(44100.0);
    SineSource source{1000.0, 44100.0, 44100};
    const auto output = convert_all(resampler, source);
    const double frames = static_cast<double>(output.size() / 2);
    // Whatever the converter still holds (its filter delay, ~10 ms) is all that may be missing.
    EXPECT_LE(frames, 48001.0);
    EXPECT_GE(frames, 48000.0 - 600.0);
    EXPECT_NEAR(measured_frequency(output), 1000.0, 2.0);
}

// A live source runs dry between device cycles; the conversion must carry on afterwards
// rather than treat the first empty pull as the end of the stream.
TEST(Resampler, ContinuesSeamlesslyAfterEmptyPulls) {
    Resampler steady(32000.0);
    SineSource steady_source{440.0, 32000.0, 32000};
    const auto reference = convert_all(steady, steady_source);

    Resampler starving(32000.0);
    SineSource starving_source{440.0, 32000.0, 32000, 3};
    const auto output = convert_all(starving, starving_source);

    ASSERT_EQ(output.size(), reference.size());
    for (size_t i = 0; i < output.size(); ++i) {
        ASSERT_FLOAT_EQ(output[i], reference[i]) << "sample " << i;
    }
}

}  // namespace
}  // namespace kova
