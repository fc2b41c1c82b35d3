#include "bench/support/impulse.h"

#include <pthread.h>
#include <pulse/error.h>
#include <pulse/simple.h>
#include <sched.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace kova::bench {
namespace {

constexpr const char* kSinkName = "com.brenvale.kova.device";

uint64_t frames_of(double seconds, unsigned rate) {
    return static_cast<uint64_t>(std::llround(seconds * rate));
}

}  // namespace

std::vector<uint64_t> ImpulseSchedule::positions() const {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> gap(min_gap_ms, max_gap_ms);
    std::vector<uint64_t> result;
    uint64_t position = frames_of(lead_in_s, rate);
    for (unsigned i = 0; i < count; ++i) {
        result.push_back(position);
        position += frames_of(gap(random) / 1000.0, rate);
    }
    return result;
}

uint64_t ImpulseSchedule::total_frames() const {
    const auto clicks = positions();
    const uint64_t last = clicks.empty() ? frames_of(lead_in_s, rate) : clicks.back();
    return last + click_frames + frames_of(tail_s, rate);
}

void add_clicks(const ImpulseSchedule& schedule, const std::vector<uint64_t>& positions,
                uint64_t first, float* block, size_t frames) {
    const uint64_t end = first + frames;
    auto click =
        std::lower_bound(positions.begin(), positions.end(),
                         first >= schedule.click_frames ? first - schedule.click_frames : 0);
    for (; click != positions.end() && *click < end; ++click) {
        for (uint64_t f = *click; f < *click + schedule.click_frames; ++f) {
            if (f >= first && f < end) {
                block[2 * (f - first)] = schedule.level;
                block[2 * (f - first) + 1] = schedule.level;
            }
        }
    }
}

ImpulsePlayer::ImpulsePlayer(ImpulseSchedule schedule, double buffer_ms, Bed bed)
    : schedule_(schedule), buffer_ms_(buffer_ms), bed_(std::move(bed)) {}

ImpulsePlayer::~ImpulsePlayer() {
    stop();
}

void ImpulsePlayer::stop() {
    stop_.store(true);
    wait();
}

void ImpulsePlayer::start() {
    thread_ = std::thread([this] {
        run();
        finished_.store(true, std::memory_order_release);
    });
}

void ImpulsePlayer::wait() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

void ImpulsePlayer::run() {
    // A player starved by a busy machine lets its stream run dry, and a click written after
    // that no longer sounds when the latency reading says; realtime keeps it fed where allowed.
    sched_param priority{};
    priority.sched_priority = 10;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &priority);
    const unsigned rate = schedule_.rate;
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, rate, 2};
    const auto bytes_per_frame = static_cast<uint32_t>(2 * sizeof(float));
    pa_buffer_attr attributes;
    attributes.maxlength = static_cast<uint32_t>(-1);
    attributes.tlength =
        static_cast<uint32_t>(frames_of(buffer_ms_ / 1000.0, rate)) * bytes_per_frame;
    attributes.prebuf = static_cast<uint32_t>(-1);
    attributes.minreq = static_cast<uint32_t>(-1);
    attributes.fragsize = static_cast<uint32_t>(-1);
    int status = 0;
    pa_simple* stream = pa_simple_new(nullptr, "KOVA impulses", PA_STREAM_PLAYBACK, kSinkName,
                                      "impulses", &spec, nullptr, &attributes, &status);
    if (stream == nullptr) {
        error_ = std::string("playback stream: ") + pa_strerror(status);
        return;
    }
    const std::vector<uint64_t> clicks = schedule_.positions();
    const uint64_t total = schedule_.total_frames();
    // Short blocks keep the time between a write and its latency reading small.
    const size_t block_frames = rate / 500;
    std::vector<float> block(2 * block_frames);
    size_t next_click = 0;
    for (uint64_t first = 0; first < total && !stop_.load(); first += block_frames) {
        std::fill(block.begin(), block.end(), 0.0f);
        if (bed_) {
            bed_(first, block.data(), block_frames);
        }
        add_clicks(schedule_, clicks, first, block.data(), block_frames);
        if (pa_simple_write(stream, block.data(), block.size() * sizeof(float), &status) < 0) {
            error_ = std::string("write: ") + pa_strerror(status);
            break;
        }
        const uint64_t end = first + block_frames;
        if (next_click < clicks.size() && clicks[next_click] < end) {
            const Clock::time_point before = Clock::now();
            const pa_usec_t latency = pa_simple_get_latency(stream, &status);
            const Clock::time_point after = Clock::now();
            const Clock::time_point written = before + (after - before) / 2;
            for (; next_click < clicks.size() && clicks[next_click] < end; ++next_click) {
                const double after_click_s =
                    static_cast<double>(end - clicks[next_click]) / static_cast<double>(rate);
                const double sounds_in_s = static_cast<double>(latency) / 1e6 - after_click_s;
                sounded_.push_back(written + std::chrono::duration_cast<Clock::duration>(
                                                 std::chrono::duration<double>(sounds_in_s)));
            }
        }
    }
    pa_simple_free(stream);
}

ImpulseDetector::ImpulseDetector(unsigned rate, float threshold, double hold_off_ms)
    : threshold_(threshold), hold_off_frames_(frames_of(hold_off_ms / 1000.0, rate)) {}

void ImpulseDetector::feed(const float* interleaved, size_t frames, Clock::time_point arrival) {
    for (size_t i = 0; i < frames; ++i) {
        sample(interleaved[2 * i], arrival);
    }
}

void ImpulseDetector::feed(const int16_t* interleaved, size_t frames, Clock::time_point arrival) {
    for (size_t i = 0; i < frames; ++i) {
        sample(static_cast<float>(interleaved[2 * i]) / 32767.0f, arrival);
    }
}

void ImpulseDetector::sample(float left, Clock::time_point arrival) {
    if (position_ >= quiet_until_ && std::fabs(left) >= threshold_) {
        arrivals_.push_back(arrival);
        positions_.push_back(position_);
        quiet_until_ = position_ + hold_off_frames_;
    }
    ++position_;
}

std::vector<std::pair<size_t, size_t>> match_clicks(const std::vector<Clock::time_point>& sounded,
                                                    const std::vector<Clock::time_point>& arrivals,
                                                    double window_ms, double early_ms) {
    using Ms = std::chrono::duration<double, std::milli>;
    std::vector<std::pair<size_t, size_t>> pairs;
    size_t next = 0;
    for (size_t click = 0; click < sounded.size(); ++click) {
        while (next < arrivals.size() && Ms(arrivals[next] - sounded[click]).count() < -early_ms) {
            ++next;
        }
        if (next < arrivals.size() && Ms(arrivals[next] - sounded[click]).count() <= window_ms) {
            pairs.emplace_back(click, next);
            ++next;
        }
    }
    return pairs;
}

std::vector<double> match_latencies(const std::vector<Clock::time_point>& sounded,
                                    const std::vector<Clock::time_point>& arrivals,
                                    double window_ms, double early_ms, size_t* spurious) {
    using Ms = std::chrono::duration<double, std::milli>;
    const auto pairs = match_clicks(sounded, arrivals, window_ms, early_ms);
    std::vector<double> latencies;
    for (const auto& [click, arrival] : pairs) {
        latencies.push_back(Ms(arrivals[arrival] - sounded[click]).count());
    }
    if (spurious != nullptr) {
        *spurious = arrivals.size() - pairs.size();
    }
    return latencies;
}

LatencyStats summarize(std::vector<double> latencies_ms, size_t played, size_t spurious) {
    LatencyStats stats;
    stats.played = played;
    stats.matched = latencies_ms.size();
    stats.spurious = spurious;
    if (latencies_ms.empty()) {
        return stats;
    }
    std::sort(latencies_ms.begin(), latencies_ms.end());
    const auto rank = [&](double p) {
        const auto n = static_cast<double>(latencies_ms.size());
        const auto index = static_cast<size_t>(std::max(1.0, std::ceil(p * n))) - 1;
        return latencies_ms[std::min(index, latencies_ms.size() - 1)];
    };
    stats.min_ms = latencies_ms.front();
    stats.p50_ms = rank(0.50);
    stats.p99_ms = rank(0.99);
    stats.max_ms = latencies_ms.back();
    double sum = 0.0;
    for (const double value : latencies_ms) {
        sum += value;
    }
    stats.mean_ms = sum / static_cast<double>(latencies_ms.size());
    return stats;
}

std::string describe(const LatencyStats& stats) {
    char line[200];
    std::snprintf(
        line, sizeof line,
        "p50 %6.2f  p99 %6.2f  max %6.2f  min %6.2f ms  (%zu of %zu clicks, %zu spurious)",
        stats.p50_ms, stats.p99_ms, stats.max_ms, stats.min_ms, stats.matched, stats.played,
        stats.spurious);
    return line;
}

std::vector<Clock::time_point> clicks_in_arrivals(const std::string& path, int threshold,
                                                  double hold_off_ms) {
    std::vector<Clock::time_point> clicks;
    std::ifstream lines(path);
    const auto hold_off = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double, std::milli>(hold_off_ms));
    for (std::string line; std::getline(lines, line);) {
        long long ns = 0;
        size_t frames = 0;
        int peak = 0;
        if (!(std::istringstream(line) >> ns >> frames >> peak) || peak < threshold) {
            continue;
        }
        const Clock::time_point at{std::chrono::nanoseconds(ns)};
        if (clicks.empty() || at - clicks.back() >= hold_off) {
            clicks.push_back(at);
        }
    }
    return clicks;
}

}  // namespace kova::bench
