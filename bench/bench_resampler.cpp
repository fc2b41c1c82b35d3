// The converter's quality and cost: a 997 Hz sine (a frequency sharing no factor with the
// rates) from a device rate to 48 kHz, fed the way the capture pipeline feeds it.
#include <benchmark/benchmark.h>

#include <algorithm>
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
    // What the converter holds back: clicks fed 1 ms at a time, as a capture delivers them,
    // come out only once enough input after them has arrived; how long depends on where a
    // click falls in the converter's processing blocks, so 100 clicks at irregular places.
    const auto piece = static_cast<size_t>(rate / 1000);
    std::vector<size_t> clicks;
    for (size_t i = 0; i < 100; ++i) {
        clicks.push_back(static_cast<size_t>(rate / 10) * (i + 1) + (i * 7919) % 997);
    }
    size_t fed = 0;
    size_t available = 0;
    const kova::Resampler::Pull pull = [&](float* out, size_t frames) {
        const size_t n = std::min(frames, available - fed);
        for (size_t i = 0; i < n; ++i) {
            const auto next = std::upper_bound(clicks.begin(), clicks.end(), fed + i);
            const bool in_click = next != clicks.begin() && fed + i < *(next - 1) + 8;
            out[2 * i] = out[2 * i + 1] = in_click ? 0.8f : 0.0f;
        }
        fed += n;
        return n;
    };
    kova::Resampler streaming(rate);
    std::vector<float> block(2 * kBlockFrames);
    size_t produced = 0;
    size_t quiet_until = 0;
    std::vector<double> held_ms;
    for (available = piece;
         held_ms.size() < clicks.size() && available < clicks.back() + 2 * piece * 100;
         available += piece) {
        for (size_t made; (made = streaming.process(pull, block.data(), kBlockFrames)) > 0;) {
            for (size_t i = 0; i < made; ++i, ++produced) {
                if (produced >= quiet_until && std::fabs(block[2 * i]) > 0.4f &&
                    held_ms.size() < clicks.size()) {
                    const double click_s = static_cast<double>(clicks[held_ms.size()]) / rate;
                    held_ms.push_back((static_cast<double>(available) / rate - click_s) * 1000.0);
                    quiet_until = produced + 2400;
                }
            }
        }
    }
    std::sort(held_ms.begin(), held_ms.end());
    if (!held_ms.empty()) {
        state.counters["held_back_ms_p50"] = held_ms[held_ms.size() / 2];
        state.counters["held_back_ms_max"] = held_ms.back();
    }
    state.counters["clicks_out"] = static_cast<double>(held_ms.size());
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
