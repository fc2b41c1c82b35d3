// The converter's quality and cost: a 997 Hz sine (a frequency sharing no factor with the
// rates) from a device rate to 48 kHz, fed the way the capture pipeline feeds it.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "core/audio/resampler.h"

namespace {

constexpr double kToneHz = 997.0;
constexpr double kLevel = 0.5;  // -6 dBFS
constexpr size_t kBlockFrames = 192;

std::vector<float> stereo_tone(double rate, size_t frames) {
    std::vector<float> samples(2 * frames);
    for (size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        samples[2 * i] = samples[2 * i + 1] =
            static_cast<float>(kLevel * std::sin(2.0 * M_PI * kToneHz * t));
    }
    return samples;
}

// All of `input` through `resampler` in the pipeline's 192-frame output calls.
std::vector<float> convert(kova::Resampler& resampler, const std::vector<float>& input) {
    size_t cursor = 0;
    const kova::Resampler::Pull pull = [&](float* out, size_t frames) {
        const size_t n = std::min(frames, input.size() / 2 - cursor);
        std::copy_n(input.begin() + static_cast<std::ptrdiff_t>(2 * cursor), 2 * n, out);
        cursor += n;
        return n;
    };
    std::vector<float> output;
    std::vector<float> block(2 * kBlockFrames);
    for (;;) {
        const size_t made = resampler.process(pull, block.data(), kBlockFrames);
        if (made == 0) {
            return output;
        }
        output.insert(output.end(), block.begin(), block.begin() + 2 * made);
    }
}

// Signal-to-noise-and-distortion of the left channel: the least-squares fit of a 997 Hz sine
// (any phase, plus an offset) against everything else.
double sinad_db(const std::vector<float>& stereo, size_t first, size_t count, bool to_pcm16) {
    const double w = 2.0 * M_PI * kToneHz / 48000.0;
    double ss = 0, sc = 0, cc = 0, s1 = 0, c1 = 0, n = 0, ys = 0, yc = 0, y1 = 0;
    std::vector<double> y(count);
    for (size_t i = 0; i < count; ++i) {
        double v = stereo[2 * (first + i)];
        if (to_pcm16) {
            v = std::nearbyint(std::clamp(v, -1.0, 1.0) * 32767.0) / 32767.0;
        }
        y[i] = v;
        const double s = std::sin(w * static_cast<double>(i));
        const double c = std::cos(w * static_cast<double>(i));
        ss += s * s, sc += s * c, cc += c * c, s1 += s, c1 += c, n += 1;
        ys += v * s, yc += v * c, y1 += v;
    }
    // Solve the 3x3 normal equations by Cramer's rule.
    const double m[3][3] = {{ss, sc, s1}, {sc, cc, c1}, {s1, c1, n}};
    const double r[3] = {ys, yc, y1};
    const auto det = [](const double a[3][3]) {
        return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
               a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
               a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    };
    const double d = det(m);
    double x[3];
    for (int k = 0; k < 3; ++k) {
        double mk[3][3];
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                mk[i][j] = j == k ? r[i] : m[i][j];
            }
        }
        x[k] = det(mk) / d;
    }
    double signal = 0, noise = 0;
    for (size_t i = 0; i < count; ++i) {
        const double fit = x[0] * std::sin(w * static_cast<double>(i)) +
                           x[1] * std::cos(w * static_cast<double>(i));
        signal += fit * fit;
        const double e = y[i] - fit - x[2];
        noise += e * e;
    }
    return 10.0 * std::log10(signal / noise);
}

void BM_ResamplerQuality(benchmark::State& state) {
    const double rate = static_cast<double>(state.range(0));
    double float_db = 0.0;
    double pcm16_db = 0.0;
    for (auto _ : state) {
        kova::Resampler resampler(rate);
        const auto output = convert(resampler, stereo_tone(rate, static_cast<size_t>(rate * 3)));
        // Half a second in, past the converter's start; two seconds measured.
        float_db = sinad_db(output, 24000, 96000, false);
        pcm16_db = sinad_db(output, 24000, 96000, true);
    }
    state.counters["sinad_float_dB"] = float_db;
    state.counters["sinad_pcm16_dB"] = pcm16_db;
}
BENCHMARK(BM_ResamplerQuality)
    ->Arg(44100)
    ->Arg(96000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// One iteration converts one second of audio: its CPU time is the cost per second of audio.
void BM_ResamplerCostPerSecondOfAudio(benchmark::State& state) {
    const double rate = static_cast<double>(state.range(0));
    const auto input = stereo_tone(rate, static_cast<size_t>(rate));
    kova::Resampler resampler(rate);
    for (auto _ : state) {
        benchmark::DoNotOptimize(convert(resampler, input));
    }
}
BENCHMARK(BM_ResamplerCostPerSecondOfAudio)
    ->Arg(44100)
    ->Arg(48000)
    ->Arg(96000)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
