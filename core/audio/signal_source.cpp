#include "core/audio/signal_source.h"

#include <cmath>
#include <numbers>
#include <utility>

#include "core/transport/error.h"

namespace kova {
namespace {

constexpr double kRate = 48000.0;
constexpr uint64_t kFramesPerSecond = 48000;
// -24 dBFS, so that a test signal never startles anyone holding the phone.
constexpr double kGain = 0.06309573444801933;
constexpr double kSweepSeconds = 10.0;
constexpr double kSweepStartHz = 20.0;

enum class Signal { Sine, Silence, Impulse, Lr, Sweep };

Signal signal_named(const std::string& name) {
    if (name == "sine")
        return Signal::Sine;
    if (name == "silence")
        return Signal::Silence;
    if (name == "impulse")
        return Signal::Impulse;
    if (name == "lr")
        return Signal::Lr;
    if (name == "sweep")
        return Signal::Sweep;
    throw Error("unknown_signal");
}

std::pair<double, double> sine_pair(double t) {
    return {std::sin(2.0 * std::numbers::pi * 440.0 * t),
            std::sin(2.0 * std::numbers::pi * 880.0 * t)};
}

// Exponential sweep from 20 Hz to 20 kHz, restarting every 10 s.
double sweep_value(double t) {
    const double tau = std::fmod(t, kSweepSeconds);
    const double k = std::log(1000.0) / kSweepSeconds;
    return std::sin(2.0 * std::numbers::pi * kSweepStartHz * (std::exp(k * tau) - 1.0) / k);
}

std::pair<double, double> frame_values(Signal signal, uint64_t n) {
    const double t = static_cast<double>(n) / kRate;
    switch (signal) {
        case Signal::Sine:
            return sine_pair(t);
        case Signal::Silence:
            return {0.0, 0.0};
        case Signal::Impulse: {
            const double value = n % kFramesPerSecond == 0 ? 1.0 : 0.0;
            return {value, value};
        }
        case Signal::Lr: {
            auto pair = sine_pair(t);
            if ((n / kFramesPerSecond) % 2 == 1) {
                pair.first = 0.0;
            } else {
                pair.second = 0.0;
            }
            return pair;
        }
        case Signal::Sweep: {
            const double value = sweep_value(t);
            return {value, value};
        }
    }
    return {0.0, 0.0};
}

void append_sample(std::vector<uint8_t>& out, double value) {
    const auto sample = static_cast<int16_t>(std::round(value * kGain * 32767.0));
    const auto bits = static_cast<uint16_t>(sample);
    out.push_back(static_cast<uint8_t>(bits));
    out.push_back(static_cast<uint8_t>(bits >> 8));
}

}  // namespace

std::vector<uint8_t> signal_block(const std::string& name, uint64_t first_frame) {
    const Signal signal = signal_named(name);
    std::vector<uint8_t> block;
    block.reserve(kFramesPerBlock * 4);
    for (uint64_t n = first_frame; n < first_frame + kFramesPerBlock; ++n) {
        const auto [left, right] = frame_values(signal, n);
        append_sample(block, left);
        append_sample(block, right);
    }
    return block;
}

}  // namespace kova
