// kova-demo-audio: plays a short generated piece (melody, chords, noise bursts, with clicks
// to time it by) into the KOVA sink, and afterwards compares what the emulated phone
// recorded with what was played.
#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "bench/support/impulse.h"
#include "bench/support/recording_check.h"
#include "core/audio/wav_source.h"

namespace {

using kova::bench::Clock;
using nlohmann::json;

constexpr float kClickLevel = 0.7f;
constexpr float kThreshold = 0.5f;  // above anything the music reaches
constexpr double kWindowMs = 150.0;

double note_hz(int semitones_from_a4) {
    return 440.0 * std::pow(2.0, semitones_from_a4 / 12.0);
}

// The music under the clicks, generated frame by frame in order: a melody over a bass, a
// chord progression, filtered noise bursts, then melody and chords together. Peaks stay
// below 0.4 so that only the clicks reach the detector's threshold.
class Piece {
  public:
    Piece(unsigned rate, double start_s) : rate_(rate), start_(std::llround(start_s * rate)) {}

    void fill(uint64_t first, float* block, size_t frames) {
        for (size_t i = 0; i < frames; ++i) {
            const uint64_t frame = first + i;
            const float value =
                frame < start_ ? 0.0f : sample(static_cast<double>(frame - start_) / rate_);
            block[2 * i] = value;
            block[2 * i + 1] = value;
        }
    }

  private:
    float sample(double t) {
        static constexpr int kMelody[] = {3, 7, 10, 15, 14, 10, 5, 3, 7, 12, 10, 7, 5, 2, 3, -2};
        static constexpr int kChords[4][3] = {
            {-9, -5, -2}, {-12, -9, -5}, {-16, -12, -9}, {-14, -10, -7}};
        double value = 0.0;
        if (t < 2.0) {
            value += tone(kMelody[static_cast<int>(t / 0.125) % 16], t, 0.125, 0.22);
            value += tone(-33, t, 0.5, 0.08);
        } else if (t < 4.0) {
            const auto& chord = kChords[static_cast<int>((t - 2.0) / 0.5) % 4];
            for (const int note : chord) {
                value += tone(note, t, 0.5, 0.09);
            }
        } else if (t < 5.0) {
            value += burst(t - 4.0);
        } else {
            value += tone(kMelody[static_cast<int>(t / 0.125) % 16] + 12, t, 0.125, 0.15);
            const auto& chord = kChords[static_cast<int>((t - 5.0) / 0.5) % 4];
            for (const int note : chord) {
                value += tone(note, t, 0.5, 0.05);
            }
        }
        return static_cast<float>(value);
    }

    // A note of `length` seconds restarting every `length`, with a short attack and a decay.
    double tone(int note, double t, double length, double level) const {
        const double in_note = std::fmod(t, length);
        const double envelope = std::min(1.0, in_note / 0.005) * std::exp(-3.0 * in_note / length);
        return level * envelope * std::sin(2.0 * M_PI * note_hz(note) * t);
    }

    // 80 ms of low-passed noise every 200 ms.
    double burst(double t) {
        const double white = noise_(random_);
        low1_ += 0.25 * (white - low1_);
        low2_ += 0.25 * (low1_ - low2_);
        return std::fmod(t, 0.2) < 0.08 ? 0.7 * low2_ : 0.0;
    }

    unsigned rate_;
    uint64_t start_;
    std::mt19937 random_{7};
    std::uniform_real_distribution<double> noise_{-1.0, 1.0};
    double low1_ = 0.0;
    double low2_ = 0.0;
};

kova::bench::ImpulseSchedule schedule_for(unsigned rate, double lead_in_s) {
    kova::bench::ImpulseSchedule schedule;
    schedule.rate = rate;
    schedule.lead_in_s = lead_in_s;
    schedule.count = 30;
    schedule.min_gap_ms = 230.0;
    schedule.max_gap_ms = 330.0;
    schedule.tail_s = 0.5;
    schedule.level = kClickLevel;
    return schedule;
}

int play(unsigned rate, double lead_in_s, const std::string& out) {
    const auto schedule = schedule_for(rate, lead_in_s);
    // The same stream, generated once more, gives the played energy between the clicks.
    Piece reference(rate, lead_in_s);
    std::vector<float> stream(2 * schedule.total_frames());
    reference.fill(0, stream.data(), schedule.total_frames());
    const auto positions = schedule.positions();
    kova::bench::add_clicks(schedule, positions, 0, stream.data(), schedule.total_frames());
    kova::bench::PlayedClicks played;
    played.positions = positions;
    kova::bench::measure_gaps(played, stream);

    Piece piece(rate, lead_in_s);
    kova::bench::ImpulsePlayer player(schedule, 20.0,
                                      [&piece](uint64_t first, float* block, size_t frames) {
                                          piece.fill(first, block, frames);
                                      });
    std::printf("demo: playing %.1f s of music with %u clicks into the KOVA device at %u Hz\n",
                static_cast<double>(schedule.total_frames()) / rate, schedule.count, rate);
    std::fflush(stdout);
    player.start();
    player.wait();
    if (!player.error().empty()) {
        std::fprintf(stderr, "demo: %s\n", player.error().c_str());
        return 1;
    }
    json document{{"rate", rate}, {"clicks", positions}, {"gapEnergy", played.gap_energy}};
    for (const auto at : player.sounded()) {
        document["soundedNs"].push_back(
            std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count());
    }
    std::ofstream(out) << document.dump() << "\n";
    return 0;
}

json read_json_line(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    std::string last;
    while (std::getline(file, line)) {
        if (!line.empty()) {
            last = line;
        }
    }
    return last.empty() ? json() : json::parse(last, nullptr, false);
}

int compare(const std::string& played_path, const std::string& recording_path,
            const std::string& arrivals_path, const std::string& report_path,
            const std::string& phone_path) {
    const json document = read_json_line(played_path);
    kova::bench::PlayedClicks played;
    played.rate = document.at("rate").get<unsigned>();
    played.positions = document.at("clicks").get<std::vector<uint64_t>>();
    played.gap_energy = document.at("gapEnergy").get<std::vector<double>>();
    for (const int64_t ns : document.at("soundedNs").get<std::vector<int64_t>>()) {
        played.sounded.emplace_back(std::chrono::nanoseconds(ns));
    }
    kova::WavSource wav(recording_path);
    std::vector<int16_t> recording(wav.data_size() / 2);
    wav.read_exact(reinterpret_cast<uint8_t*>(recording.data()), wav.data_size());
    std::vector<kova::bench::Arrival> arrivals;
    std::ifstream lines(arrivals_path);
    for (std::string line; std::getline(lines, line);) {
        long long ns = 0;
        size_t frames = 0;
        if (std::istringstream(line) >> ns >> frames) {
            arrivals.push_back({Clock::time_point(std::chrono::nanoseconds(ns)), frames});
        }
    }
    const auto check =
        kova::bench::check_recording(played, recording, arrivals, kThreshold, kWindowMs);

    const json report = read_json_line(report_path);
    const json phone = read_json_line(phone_path);
    const auto number = [](const json& from, const char* key) {
        return from.is_object() && from.contains(key) ? from[key].dump() : std::string("?");
    };
    std::printf("demo: the phone recorded %.2f s; clicks played %zu, found %zu\n",
                static_cast<double>(check.frames_recorded) / 48000.0, check.latency.played,
                check.clicks_found);
    std::printf("demo: latency, played into the device to arrival at the phone: %s\n",
                kova::bench::describe(check.latency).c_str());
    std::printf("demo: level difference (phone minus played): %+.2f dB\n", check.level_db);
    std::printf(
        "demo: audio lost between clicks: %llu spots, %lld frames; desktop dropped %s "
        "and overflowed %s frames; the phone saw %s frame-index gaps\n",
        static_cast<unsigned long long>(check.discontinuities),
        static_cast<long long>(check.frames_missing),
        number(report, "captureDroppedFrames").c_str(),
        number(report, "captureOverflowFrames").c_str(), number(phone, "gaps").c_str());
    std::printf("demo: device at %s Hz, converted: %s\n",
                number(report, "captureSampleRate").c_str(), number(report, "srcActive").c_str());
    const bool matched = check.latency.matched == check.latency.played &&
                         check.latency.spurious == 0 && check.discontinuities == 0 &&
                         std::fabs(check.level_db) < 0.5;
    std::printf("demo: %s\n", matched ? "the phone received what was played"
                                      : "MISMATCH: the phone did not receive what was played");
    return matched ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App cli{"Plays the demo piece into the KOVA device, or compares a recording with it."};
    cli.require_subcommand(1);
    unsigned rate = 44100;
    double lead_in_s = 3.0;
    std::string played_path;
    auto* play_command = cli.add_subcommand("play", "play the piece into the KOVA device");
    play_command->add_option("--rate", rate, "the device's sample rate")->capture_default_str();
    play_command->add_option("--lead-in", lead_in_s, "seconds of silence first")
        ->capture_default_str();
    play_command->add_option("--out", played_path, "where to note what was played")->required();
    std::string recording;
    std::string arrivals;
    std::string report;
    std::string phone;
    auto* compare_command = cli.add_subcommand("compare", "compare the phone's recording");
    compare_command->add_option("--played", played_path, "what play noted")->required();
    compare_command->add_option("--recording", recording, "the phone's WAV file")->required();
    compare_command->add_option("--arrivals", arrivals, "the phone's arrival log")->required();
    compare_command->add_option("--report", report, "kova's final report (JSON line)");
    compare_command->add_option("--phone", phone, "kova-phone's summary (JSON line)");
    CLI11_PARSE(cli, argc, argv);
    try {
        if (*play_command) {
            return play(rate, lead_in_s, played_path);
        }
        return compare(played_path, recording, arrivals, report, phone);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kova-demo-audio: %s\n", error.what());
        return 1;
    }
}
